#include "platform/crypto/crypt_msg.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/base/last_error.h"
#include "tests/pki/cert.h"
#include "tests/pki/cms.h"
#include "tests/pki/key.h"
#include "tests/pki/trust.h"

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

// Of a message's certificates only the signer's and those that may issue it are kept, and every
// one decoded takes its size from the allowance: a message whose certificates do not fit is
// unreadable.
TEST(CryptVerifyDetachedMessageSignature, KeepsTheSignersChainWithinTheAllowance) {
  const std::vector<uint8_t> data = {'d', 'a', 't', 'a'};
  const tests::Pki p = tests::MakePki(tests::pki::KeyKind::kEcdsaP256);
  const tests::Pki other = tests::MakePki(tests::pki::KeyKind::kGost2012_256);
  const std::vector<uint8_t> message =
      tests::pki::SignDetached(data, {{p.leaf, p.leafKey}}, {other.ca, p.ca, p.root});
  FixedAllowance tiny(4096);
  EXPECT_FALSE(CryptVerifyDetachedMessageSignature(message, data, 0, nullptr, &tiny));
  EXPECT_EQ(GetLastError(), 0x8009310Bu);
  EXPECT_EQ(tiny.Taken(), 0u);

  FixedAllowance ample(size_t{64} << 20);
  CertContextPtr signer;
  ASSERT_TRUE(CryptVerifyDetachedMessageSignature(message, data, 0, &signer, &ample));
  // Compared as texts: GCC 12 at -O3 warns falsely on ordering vectors of bytes.
  const auto text = [](const std::vector<uint8_t>& der) { return std::string(der.begin(), der.end()); };
  std::multiset<std::string> kept;
  for (const auto& cert : *signer->Companions()) kept.insert(text(cert->Encoded()));
  EXPECT_EQ(kept, (std::multiset<std::string>{text(p.leaf.Der()), text(p.ca.Der()),
                                              text(p.root.Der())}));
  EXPECT_GT(ample.Taken(), 0u);  // the kept ones stay counted
}

}  // namespace
}  // namespace platform
