#pragma once

// CCrypto is the verification engine of one request. The server gathers a CheckRequest, makes an
// engine over it and calls Verify once; Verify runs four checks in a fixed order, each framed by
// a start and an end log line, and returns their record: VerifySignature (a detached CMS message,
// or a bare signature value with the signer's certificate), VerifyCertificate (is the signer's
// certificate in the system stores?), VerifyChain (its chain, the private-key usage period and the
// extended-key-usage filter, remembered in the certificate archive) and VerifyCades. No check
// calls back into an earlier one; each returns its Verdict.
//
// Example:
//   CheckRequest request;
//   request.document = ...; request.signature = ...;
//   const VerifyResult result = CCrypto(std::move(request), archive, engine).Verify();

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/crypto/cert_context.h"
#include "verify/engine_limits.h"
#include "verify/request.h"
#include "verify/result.h"
#include "verify/verdict.h"

namespace verify {

class LibXmlF;
class TmpCertArhive;

class CCrypto {
 public:
  // `certArchive` (not owned) keeps chain results between requests and must outlive the engine;
  // `engineContext` gives the limits, the clock and the downloads (the production ones by
  // default).
  CCrypto(CheckRequest checkRequest, TmpCertArhive& certArchive,
          const EngineContext& engineContext = {});
  virtual ~CCrypto();
  CCrypto(const CCrypto&) = delete;
  CCrypto& operator=(const CCrypto&) = delete;

  // Verify runs the four checks and returns their record, the signer's certificate and its texts
  // included. Call it once.
  [[nodiscard]] VerifyResult Verify();

 private:
  Verdict VerifySignature();
  // CanonicalizeXml returns the exclusive canonical form (without comments) of `bytes`, read as
  // UTF-8; empty with `errorText` set when libxml2 is missing or the bytes are not well-formed.
  std::string CanonicalizeXml(std::span<const uint8_t> bytes);
  // CompareHash: the Base64 of the fragment's GOST R 34.11-94 digest appears in the signed text.
  Verdict CompareHash();
  // VerifyRawSignature: the signature value verifies over the signed text with the signer
  // certificate's public key.
  Verdict VerifyRawSignature();
  Verdict VerifyDetached();
  Verdict VerifyCertificate();
  Verdict VerifyChain();
  Verdict VerifyCades();
  // EvaluateChain builds and judges the chain, without the archive.
  Verdict EvaluateChain();
  // KeyLifetimeExceeded: now, by the engine's clock, is outside the private-key usage period.
  bool KeyLifetimeExceeded() const;
  // KeyUsageStatus returns 0 when the certificate carries a usage of the OID list, else the
  // status.
  uint32_t KeyUsageStatus() const;

  CheckRequest request;
  TmpCertArhive& archive;
  const EngineContext engine;
  platform::CertContextPtr signerCert;
  std::unique_ptr<LibXmlF> xml;
  std::string errorText;
};

// AddTimestampAnswer is the answer to ADD TS: timestamps are not supported.
std::string AddTimestampAnswer();

}  // namespace verify
