#pragma once

// VerifyResult is the record of one verification: four verdicts, then one status entry per check.
// The caller zero-fills it and owns it; CCrypto::Verify fills it. Plain data, header-only, so that
// the reports read it without linking the engine.

#include <cstdint>
#include <string>

namespace verify {

struct VerifyResult {
  bool signatureOk = false;
  bool certificateFound = false;
  bool chainOk = false;  // a chain was built and passed the filters; not the trust verdict
  bool cadesOk = false;
  uint32_t signatureStatus = 0;
  const std::string* signatureDetail =
      nullptr;  // the engine's error text when a certificate was given
  uint32_t certificateStatus = 0;
  const std::string* certificateDetail = nullptr;
  uint32_t chainStatus = 0;  // trust error bits, or an error code
  const std::string* chainDetail = nullptr;
  uint32_t cadesStatus = 0;
  const std::string* cadesDetail = nullptr;
};

}  // namespace verify
