#pragma once

// File: the fields of a verification request over HTTP and how each is read, whichever body
// brought it: a multipart/form-data part holds a file as it is (texts for the options), a JSON
// member holds the Base64 of that file (typed values for the options). Every option has the
// meaning of its line-protocol command; the result is the same request record CHECK builds.
//
// Example:
//   CheckInput input;
//   if (std::optional<Problem> bad = SetFormOption(input.options, "time", "2026-01-31T12:00:00Z"))
//     return *bad;
//   ...
//   std::variant<verify::CheckRequest, Problem> request = MakeCheckRequest(std::move(input));

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "api/problem.h"
#include "platform/os/file_io.h"
#include "verify/request.h"

namespace api {

// CheckOptions are the options of one verification, with the line protocol's defaults.
struct CheckOptions {
  std::optional<uint64_t> verifyTime;  // FILETIME (UTC) from `time`; none: now
  bool checkRevocation = true;         // `revocation` (CRLON/CRLOFF)
  bool findCertificate = true;         // `findInStores` (FINDON/FINDOFF)
  int32_t keyLifetimeDays = -1;        // `keyLifetime` (SKLIFETIME); negative: no check
  std::vector<std::string> oids;       // `oid` (OID), the extended-key-usage filter
  bool htmlReport = false;             // `report`: "html" (HTMLON)
};

// CheckInput is what a request's body gave. The signed data is held in `document`, or, past a
// size, in `documentFile` (flushed, `documentSize` bytes).
struct CheckInput {
  bool documentGiven = false;
  std::vector<uint8_t> document;
  std::unique_ptr<platform::TemporaryFile> documentFile;
  uint64_t documentSize = 0;
  std::optional<std::vector<uint8_t>> signature;    // the file: DER, PEM or Base64
  std::optional<std::vector<uint8_t>> certificate;  // likewise
  std::optional<std::vector<uint8_t>> hashedXml;    // the fragment's bytes
  CheckOptions options;
};

// The names of the data fields. `signedInfo` is the signed data of a bare signature value under
// the name an XML signature gives it; a request has it or `document`, not both.
inline constexpr std::string_view kDocumentField = "document";
inline constexpr std::string_view kSignedInfoField = "signedInfo";
inline constexpr std::string_view kSignatureField = "signature";
inline constexpr std::string_view kCertificateField = "certificate";
inline constexpr std::string_view kHashedXmlField = "hashedXml";

// IsOption is true for the names of the options.
bool IsOption(std::string_view name);

// SetFormOption reads the option `name` from a form part's text `value` (booleans "true" or
// "false", numbers in decimal; `oid` may come once per OID, or as a comma-separated list).
// Returns the problem when `name` is no option or `value` does not read.
std::optional<Problem> SetFormOption(CheckOptions& options, std::string_view name,
                                     std::string_view value);
// SetJsonOption reads the option `name` from a JSON member (booleans, an integer, a list of
// strings for `oid`, strings otherwise; null leaves the default).
std::optional<Problem> SetJsonOption(CheckOptions& options, std::string_view name,
                                     const nlohmann::json& value);

// ParseRfc3339 reads an RFC 3339 date-time ("2026-01-31T12:00:00Z", "...T15:00:00.5+03:00") as
// a FILETIME in UTC, fractions of a second dropped. Nullopt when it does not read, names no real
// moment, or lies before 1970 or after the year 3000, the range of TIME.
std::optional<uint64_t> ParseRfc3339(std::string_view text);

// DecodeBase64Field decodes a JSON member's Base64 (the standard alphabet, "=" padding optional,
// white space skipped); nullopt when it holds anything else.
std::optional<std::vector<uint8_t>> DecodeBase64Field(std::string_view text);

// FileBlob returns the bytes a signature or certificate file holds: the body of its first PEM
// block, the decoding of a text that is nothing but Base64 and white space, else the bytes as
// they are (DER).
std::vector<uint8_t> FileBlob(std::span<const uint8_t> file);

// MakeCheckRequest turns `input` into the engine's request record: the document as bytes or as
// an open descriptor of its file (whose name is deleted), the signature and certificate decoded
// from their files, the XML mode on with a fragment. Returns the problem when the document or the
// signature is missing, or when the document's file cannot be opened again.
std::variant<verify::CheckRequest, Problem> MakeCheckRequest(CheckInput input);

}  // namespace api
