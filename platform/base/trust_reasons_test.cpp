#include "platform/base/trust_reasons.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(ChainTrustReasons, NamesTrustBitsAndNoBitsOfAnErrorCode) {
  using Names = std::vector<std::string_view>;
  struct Case {
    uint32_t status;
    Names names;  // from wincrypt.h
  };
  const Case kCases[] = {
      {0x00000000, {}},
      {0x00000020, {"CERT_TRUST_IS_UNTRUSTED_ROOT"}},
      {0x01000040, {"CERT_TRUST_REVOCATION_STATUS_UNKNOWN", "CERT_TRUST_IS_OFFLINE_REVOCATION"}},
      {0x00010004, {"CERT_TRUST_IS_REVOKED", "CERT_TRUST_IS_PARTIAL_CHAIN"}},
      {0x00100000, {}},  // no flag has this bit
      {0x80090317, {}},  // the private-key usage period, an error code
      {0xFFFFFFFF, {}},  // no signer certificate
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(ChainTrustReasons(c.status), c.names);
  }
}

}  // namespace
}  // namespace platform
