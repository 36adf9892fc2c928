#pragma once

// VerifyResult is the record of one verification: the verdicts of the signature, the certificate
// and the chain with their status codes, the signer's certificate and the texts the answer and the
// report take from it. CCrypto::Verify fills it. Plain data, header-only, so that the reports read
// it without linking the engine.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/crypto/cert_context.h"

namespace verify {

// SignerNames are the signer certificate's texts the answer shows; all empty without a signer.
using SignerNames = platform::CertTexts;

struct VerifyResult {
  bool signatureOk = false;
  bool certificateFound = false;
  bool chainOk = false;  // a chain was built and passed the filters; not the trust verdict
  uint32_t signatureStatus = 0;
  // The engine's error text for a bare signature value checked with a given certificate (empty
  // when there is none to say); never set for a detached CMS signature.
  std::optional<std::string> signatureDetail;
  uint32_t certificateStatus = 0;
  uint32_t chainStatus = 0;  // trust error bits, or an error code
  // The signer's certificate (null when there is none) and its texts.
  std::shared_ptr<const platform::CertContext> signer;
  SignerNames names;
};

}  // namespace verify
