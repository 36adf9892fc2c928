#include "platform/crypto/crypt_msg.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/base/last_error.h"
#include "tests/pki/cert.h"
#include "tests/pki/cms.h"
#include "tests/pki/key.h"

namespace platform {
namespace {

TEST(CryptVerifyDetachedMessageSignature, StatusOfMessagesWithoutThatSigner) {
  const std::vector<uint8_t> data = {'d', 'a', 't', 'a'};
  const tests::pki::Key key = tests::pki::CachedKey(tests::pki::KeyKind::kEcdsaP256, 0);
  tests::pki::CertSpec certSpec;
  certSpec.subject = {{"CN", "Signer"}};
  const tests::pki::Cert cert = tests::pki::Issue(certSpec, key, nullptr, key);
  const std::vector<uint8_t> signedData = tests::pki::SignDetached(data, {{cert, key}});
  struct Case {
    const char* why;
    std::vector<uint8_t> blob;
    uint32_t signerIndex;
    uint32_t status;  // Windows values
  };
  const Case kCases[] = {
      {"signed, signer 0", signedData, 0, 0},
      {"signed, no signer 1", signedData, 1, 0x8009200E},
      // ContentInfo { signedData, SignedData { 1, {}, { data }, {} } }: no certificate, no signer.
      {"no signer at all",
       {0x30, 0x23, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x02,
        0xa0, 0x16, 0x30, 0x14, 0x02, 0x01, 0x01, 0x31, 0x00, 0x30, 0x0b, 0x06, 0x09,
        0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x01, 0x31, 0x00},
       0,
       0x8009200E},
      // ContentInfo { data, "data" }: well formed, not signed.
      {"data content",
       {0x30, 0x13, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01,
        0x07, 0x01, 0xa0, 0x06, 0x04, 0x04, 'd',  'a',  't',  'a'},
       0,
       0x8009200A},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(CryptVerifyDetachedMessageSignature(c.blob, data, c.signerIndex, nullptr),
              c.status == 0);
    EXPECT_EQ(GetLastError(), c.status);
  }
}

}  // namespace
}  // namespace platform
