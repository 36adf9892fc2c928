#pragma once

// CCrypto is the verification engine of one request. The connection creates one per CHECK, fills
// it through the setters, calls Verify with a zero-filled VerifyResult, reads the result and the
// name accessors for its answer, and deletes it. Verify runs four checks in a fixed order, each
// framed by a start and an end log line: VerifySignature (a detached CMS message, or a bare
// signature value with the signer's certificate), VerifyCertificate (is the signer's certificate
// in the system stores?), VerifyChain (its chain, the private-key usage period and the
// extended-key-usage filter, remembered in the certificate archive) and VerifyCades.
//
// Example:
//   CCrypto engine(archive);
//   engine.SetText(document, false);
//   engine.SetSignature(signatureBase64, true);
//   VerifyResult result;
//   engine.Verify(result);

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cert_context.h"
#include "platform/unique_fd.h"
#include "platform/win_time.h"
#include "verify/result.h"

namespace report {
class TmpCertArhive;
}

namespace verify {
class LibXmlF;
}

namespace verify {

class CCrypto {
 public:
  // `archive` (not owned) keeps chain results between requests; it must outlive the engine.
  explicit CCrypto(report::TmpCertArhive& archive);
  virtual ~CCrypto();
  CCrypto(const CCrypto&) = delete;
  CCrypto& operator=(const CCrypto&) = delete;

  // SetText stores the signed data: the Base64 decoding of `text` when `decode` is set, else its
  // bytes.
  void SetText(std::string_view text, bool decode);
  // SetTextBytes stores the signed data as given (a document read from a file).
  void SetTextBytes(std::vector<uint8_t> bytes);
  // SetTextFile makes the open file `file`, of `size` bytes, the signed data. A detached CMS
  // signature is checked by reading the file in pieces; the other checks read it whole when they
  // run. The engine closes the file.
  void SetTextFile(platform::UniqueFd file, uint64_t size);
  // SetSignature stores the SIGN data, decoded as SetText does.
  void SetSignature(std::string_view text, bool decode);
  // SetHashedXml stores the XML fragment; an empty text still leaves a present, empty fragment.
  void SetHashedXml(std::string_view text, bool decode);
  // SetCertificate stores the signer's certificate; an empty text leaves none.
  void SetCertificate(std::string_view text, bool decode);
  // SetVerifyTime takes the moment to judge the chain at, a calendar time read as UTC; a time
  // whose year is 0 leaves the earlier setting.
  void SetVerifyTime(const platform::SystemTime& time);
  void SetCheckRevocation(bool on) { checkRevocation = on; }
  void SetFindCertificate(bool on) { findCertificate = on; }
  void SetXmlMode(bool on) { xmlMode = on; }
  void SetHtmlReport(bool on) { htmlReport = on; }

  // Verify runs the four checks and fills `result`.
  void Verify(VerifyResult& result);

  // Name accessors; each is empty without a signer certificate.
  // GetSubjectName: surname + " " + given name, or the simple display name when either is empty.
  std::string GetSubjectName() const;
  // GetName: the subject's (or with `issuer` the issuer's) name, last relative name first, in
  // simple form or with X.500 keys.
  std::string GetName(bool issuer, bool x500) const;
  // GetSerialNumber: upper-case hexadecimal, most significant byte first.
  std::string GetSerialNumber() const;

  // AddTimestamp answers ADD TS: timestamps are not supported.
  std::string AddTimestamp() const;

  const std::string& Report() const { return report; }
  const platform::CertContext* SignerCert() const { return signerCert.get(); }

  std::string oidList;            // extended-key-usage OIDs, comma separated; empty: no filter
  int32_t keyLifetimeDays = 731;  // private-key usage period; negative: no check

 private:
  bool VerifySignature(uint32_t& status);
  // CanonicalizeXml returns the exclusive canonical form (without comments) of `bytes`, read as
  // UTF-8; empty with `errorText` set when libxml2 is missing or the bytes are not well-formed.
  std::string CanonicalizeXml(std::span<const uint8_t> bytes);
  // CompareHash: the Base64 of the fragment's GOST R 34.11-94 digest appears in the signed text.
  bool CompareHash(uint32_t& status);
  // VerifyRawSignature: the signature value verifies over the signed text with the signer
  // certificate's public key.
  bool VerifyRawSignature(uint32_t& status);
  bool VerifyDetached(uint32_t& status);
  bool VerifyCertificate(uint32_t& status);
  bool VerifyChain(uint32_t& status);
  bool VerifyCades(uint32_t& status);
  // EvaluateChain builds and judges the chain, without the archive.
  bool EvaluateChain(uint32_t& status);
  bool KeyLifetimeExceeded() const;
  // KeyUsageStatus returns 0 when the certificate carries a usage of `oidList`, else the status.
  uint32_t KeyUsageStatus() const;

  report::TmpCertArhive& archive;
  std::vector<uint8_t> signature;
  std::vector<uint8_t> certificate;
  std::vector<uint8_t> text;
  platform::UniqueFd textFile;  // the signed data when it came as a file
  uint64_t textFileSize = 0;
  std::optional<std::vector<uint8_t>> hashedXml;
  std::string report;
  bool htmlReport = false;
  bool findCertificate = false;
  bool checkRevocation = false;
  bool xmlMode = false;
  uint64_t verifyTime = 0;  // FILETIME; 0 means now
  platform::CertContextPtr signerCert;
  std::unique_ptr<LibXmlF> xml;
  std::string errorText;
};

}  // namespace verify
