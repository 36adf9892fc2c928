#pragma once

// File: the two bodies a verification request may have, read into one CheckInput.
//  - FormCollector takes a multipart/form-data body part by part as it arrives: the document is
//    held up to a size and written on into a request file beyond it, so that a large document is
//    never all in memory; the other parts are held, each within its own limit.
//  - ReadJsonBody reads an application/json body, whose data fields are Base64.
//
// Example:
//   FormCollector form(limits);
//   for (each piece) if (std::optional<Problem> bad = form.Take(field, offset, piece)) ...;
//   std::variant<CheckInput, Problem> input = form.Finish();

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "api/check_fields.h"
#include "api/problem.h"

namespace api {

// BodyLimits bound what one request's parts may hold.
struct BodyLimits {
  uint64_t maxDocumentBytes = 0x80000000;  // the signed data, held or in its file
  size_t heldDocumentBytes = 1 << 20;      // beyond this the document goes into a request file
  size_t maxPartBytes = 64 << 20;          // a signature, certificate or XML fragment
  size_t maxOptionBytes = 4096;            // an option's text
  // A document canonicalized as XML (one with a `hashedXml` fragment) is parsed in memory.
  uint64_t maxXmlDocumentBytes = uint64_t{64} << 20;
};

class FormCollector {
 public:
  explicit FormCollector(const BodyLimits& bodyLimits) : limits(bodyLimits) {}

  // Take adds `piece`, which begins `offset` bytes into the part `field` (offset 0: a new part).
  // Returns the problem that refuses the rest of the body: a part unknown, given twice or too
  // large, or a request file that cannot be written.
  std::optional<Problem> Take(std::string_view field, uint64_t offset, std::string_view piece);
  // Finish reads the options' texts and returns what the body gave, or the first problem.
  std::variant<CheckInput, Problem> Finish();

 private:
  std::optional<Problem> Begin(std::string_view field);
  std::optional<Problem> AddToDocument(std::string_view piece);

  const BodyLimits limits;
  CheckInput input;
  std::string current;  // the part being received
  uint64_t currentBytes = 0;
  bool partOpen = false;
  std::set<std::string, std::less<>> given;
  std::vector<std::pair<std::string, std::string>> options;  // in the body's order
};

// ReadJsonBody reads a JSON object whose members are the fields: the data fields as Base64
// strings, the options as typed values. Returns the input, or the problem with the body.
std::variant<CheckInput, Problem> ReadJsonBody(std::string_view body);

}  // namespace api
