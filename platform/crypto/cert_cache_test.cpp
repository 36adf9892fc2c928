#include "platform/crypto/cert_cache.h"

#include <gtest/gtest.h>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "tests/pki/cert.h"
#include "tests/pki/key.h"

namespace platform {
namespace {

using tests::pki::Cert;
using tests::pki::CertSpec;
using tests::pki::KeyKind;

Cert Issued(const char* name, int keySlot, int emptyExtensions = 0) {
  const tests::pki::Key key = tests::pki::CachedKey(KeyKind::kEcdsaP256, keySlot);
  CertSpec certSpec;
  certSpec.subject = {{"CN", name}};
  for (int i = 0; i < emptyExtensions; ++i) {
    certSpec.extra.push_back({"1.2.3." + std::to_string(i), false, {}});
  }
  return tests::pki::Issue(certSpec, key, nullptr, key);
}

TEST(CertCache, KeepsWhatItDecodedWithinItsBounds) {
  const std::vector<uint8_t> a = Issued("A", 0).Der(), b = Issued("B", 0).Der(),
                             third = Issued("C", 0).Der();
  // The same subject and serial with another key: another certificate, never the kept one.
  const std::vector<uint8_t> renewed = Issued("A", 1).Der();
  // About 20 KB that take about 600 KB decoded (malloc's count).
  const std::vector<uint8_t> large = Issued("Large", 0, 2000).Der();
  struct Case {
    const char* why;
    size_t entries, bytes;
    std::vector<const std::vector<uint8_t>*> gets;
    uint64_t hits;
    size_t kept;
  };
  const Case kCases[] = {
      {"a certificate seen again is not decoded again", 4, 1 << 20, {&a, &a, &a}, 2, 1},
      {"a renewed certificate is another entry", 4, 1 << 20, {&a, &renewed, &a, &renewed}, 2, 2},
      {"the least recently used goes first", 2, 1 << 20, {&a, &b, &a, &third, &a, &b}, 2, 2},
      {"the byte bound holds as well", 8, 25 << 10, {&a, &b, &third, &a}, 0, 2},
      {"an entry counts what its decoded form takes", 8, 256 << 10, {&large, &large}, 0, 0},
      {"off: every certificate is decoded", 0, 1 << 20, {&a, &a}, 0, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    CertCache cache(c.entries, c.bytes);
    for (const std::vector<uint8_t>* der : c.gets) {
      const CertContextPtr cert = cache.Get(*der);
      ASSERT_TRUE(cert);
      EXPECT_EQ(cert->Encoded(), *der);
    }
    EXPECT_EQ(cache.Hits(), c.hits);
    EXPECT_EQ(cache.Misses(), c.gets.size() - c.hits);
    EXPECT_EQ(cache.Size(), c.kept);
  }
}

TEST(CertCache, SharesTheDecodedCertificateAndKeepsNoFailure) {
  CertCache cache(4, 1 << 20);
  const std::vector<uint8_t> der = Issued("Shared", 2).Der();
  const CertContextPtr first = cache.Get(der), second = cache.Get(der);
  EXPECT_NE(first.get(), second.get());          // each caller has its own context
  EXPECT_EQ(&first->Texts(), &second->Texts());  // over one decoded certificate
  EXPECT_EQ(first->Texts().subjectX500, "CN=Shared");
  const std::vector<uint8_t> garbage = {0x30, 0x03, 0x02, 0x01, 0x00};
  EXPECT_EQ(cache.Get(garbage), nullptr);
  EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
  EXPECT_EQ(cache.Size(), 1u);
}

}  // namespace
}  // namespace platform
