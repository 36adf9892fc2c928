#include "verify/providers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/base/hex.h"
#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "tests/fakes/fake_internet.h"
#include "tests/pki/cert.h"
#include "tests/pki/key.h"

namespace verify {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(HashBuffer, GostR341194WithCryptoProParameters) {
  struct Case {
    std::string input;
    std::string digest;
  };
  const Case kCases[] = {
      // Published test vectors for the CryptoPro parameter set.
      {"a", "e74c52dd282183bf37af0079c9f78055715a103f17e3133ceff1aacf2f403011"},
      {"abc", "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
      {"message digest", "bc6041dd2aa401ebfa6e9886734174febdb4729aa972d60f549ac39b29721ba0"},
      {"The quick brown fox jumps over the lazy dog",
       "9004294a361a508c586fe53d1f1b02746765e71b765472786e4770d565830a76"},
      {"This is message, length=32 bytes",
       "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb"},
      {std::string(128, 'U'), "1c4ac7614691bbf427fa2316216be8f10d92edfd37cd1027514c1008f649c4e8"},
      {std::string(1000000, 'a'),
       "8693287aa62f9478f7cb312ec0866b6c4e4a0f11160441e8f4ffcd2715dd554f"},
      // The empty input as the engine computes it.
      {"", "3f25bc1fbbce27ca10fb1958f319473ae7e17482c3b53ecf47a7e2de8aabe4c8"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    std::vector<uint8_t> digest;
    ASSERT_TRUE(HashBuffer(Bytes(c.input), digest));
    EXPECT_EQ(platform::HexText(digest, platform::HexCase::kLower), c.digest);
  }
}

TEST(DigestText, WritesTheLowNibbleFirst) {
  EXPECT_EQ(DigestText(std::vector<uint8_t>{0xA5, 0x1F, 0x00, 0xF0}), "5AF1000F");
  EXPECT_EQ(DigestText({}), "");
}

// Faked is the production context with its downloads from `internet`.
EngineContext Faked(platform::Internet& internet) {
  EngineContext engine;
  engine.internet = &internet;
  return engine;
}

class HashDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() / ("hashdoc-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }
  std::string Write(const std::string& name, const std::string& content) {
    const auto path = folder / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  std::filesystem::path folder;
  tests::FakeInternet internet;
  const EngineContext real;  // downloads over curl
  EngineContext faked = Faked(internet);
};

TEST_F(HashDocumentTest, FilesAndUrlsByReference) {
  const std::string path = Write("doc.xml", "abc");
  // b285...2c written low nibble first.
  const std::string abc = "2B5850D6FB817D93D26777635942DD41474795DE183499E761B392689FF24DC2";
  EXPECT_EQ(HashDocument("file://" + path, real), abc);
  EXPECT_EQ(platform::GetLastError(), 0u);
  EXPECT_EQ(HashDocument("file://" + path + "?x=1#frag", real), abc);  // query and fragment cut off
  std::string backslashed = "file:" + std::string("\\\\") + path;
  for (char& c : backslashed) {
    if (c == '/') c = '\\';
  }
  EXPECT_EQ(HashDocument(backslashed, real), abc);
  EXPECT_EQ(HashDocument("file://" + Write("empty", ""), real),
            "F352CBF1BBEC72AC01BF91853F9174A37E1E47283C5BE3FC747A2EEDA8BA4E8C");
  internet.Serve("http://docs.test/doc.xml?x=1", {'a', 'b', 'c'});
  EXPECT_EQ(HashDocument("http://docs.test/doc.xml?x=1", faked), abc);  // the URL as it is
}

TEST_F(HashDocumentTest, FailuresLeaveTheirCode) {
  internet.Fail("http://docs.test/stalled.xml", platform::ERROR_INTERNET_TIMEOUT, {'a'});
  // A sparse file of 1 TiB: refused before a byte is read, or the test would take hours.
  const std::string huge = Write("huge", "");
  std::filesystem::resize_file(huge, uint64_t{1} << 40);
  struct Case {
    std::string reference;
    uint32_t code;
    const EngineContext& engine;
  };
  const Case kCases[] = {
      {"file://" + (folder / "missing").string(), platform::ERROR_FILE_NOT_FOUND, real},
      {(folder / "doc.xml").string(), platform::ERROR_INTERNET_UNRECOGNIZED_SCHEME, real},  // bare
      {"http://127.0.0.1:1/doc.xml", platform::ERROR_INTERNET_CANNOT_CONNECT, real},
      {"gopher://127.0.0.1/doc", platform::ERROR_INTERNET_UNRECOGNIZED_SCHEME, real},
      {"http://docs.test/stalled.xml", platform::ERROR_INTERNET_TIMEOUT, faked},
      {"file://" + huge, platform::ERROR_FILE_TOO_LARGE, real},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reference);
    EXPECT_EQ(HashDocument(c.reference, c.engine), "");
    EXPECT_EQ(platform::GetLastError(), c.code);
  }
}

TEST(GetProvByCert, ChoosesByTheSubjectKeyAlgorithm) {
  struct Case {
    tests::pki::KeyKind subject, issuer;
    const char* provider;  // nullptr: none
  };
  const Case kCases[] = {
      {tests::pki::KeyKind::kGost2001, tests::pki::KeyKind::kGost2001, platform::kGostProviderName},
      // A GOST key certified by an RSA authority still goes to the GOST provider.
      {tests::pki::KeyKind::kGost2001, tests::pki::KeyKind::kRsa2048, platform::kGostProviderName},
      {tests::pki::KeyKind::kRsa2048, tests::pki::KeyKind::kGost2001,
       "RSA and ECDSA Cryptographic Provider"},
      {tests::pki::KeyKind::kEcdsaP256, tests::pki::KeyKind::kEcdsaP256,
       "RSA and ECDSA Cryptographic Provider"},
      {tests::pki::KeyKind::kGost2012_256, tests::pki::KeyKind::kGost2012_256, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(tests::pki::KeyKindName(c.subject));
    const tests::pki::Key subjectKey = tests::pki::CachedKey(c.subject, 0);
    const tests::pki::Key issuerKey = tests::pki::CachedKey(c.issuer, 1);
    tests::pki::CertSpec certSpec;
    certSpec.subject = {{"CN", "Subject"}};
    tests::pki::CertSpec issuerSpec;
    issuerSpec.subject = {{"CN", "Issuer"}};
    const tests::pki::Cert issuer = tests::pki::Issue(issuerSpec, issuerKey, nullptr, issuerKey);
    const tests::pki::Cert cert = tests::pki::Issue(certSpec, subjectKey, &issuer, issuerKey);
    const std::vector<uint8_t> der = cert.Der();
    platform::CertContextPtr context = platform::CertContext::Create(der);
    ASSERT_TRUE(context);
    std::string errorText;
    platform::CryptProviderPtr provider = GetProvByCert(*context, errorText);
    if (c.provider == nullptr) {
      EXPECT_FALSE(provider);
      EXPECT_EQ(platform::GetLastError(), platform::ERROR_NO_MORE_ITEMS);
    } else {
      ASSERT_TRUE(provider);
      EXPECT_EQ(provider->Name(), c.provider);
    }
    EXPECT_EQ(errorText, "");
  }
}

TEST(Providers, GostDigestOnlyFromTheGostProvider) {
  platform::CryptProviderPtr rsa =
      platform::CryptAcquireContextA("RSA and ECDSA Cryptographic Provider",
                                     platform::PROV_RSA_FULL, platform::CRYPT_VERIFYCONTEXT);
  ASSERT_TRUE(rsa);
  EXPECT_FALSE(rsa->CreateHash(platform::CALG_GR3411));
  EXPECT_EQ(platform::GetLastError(), platform::NTE_BAD_ALGID);
  EXPECT_FALSE(platform::CryptAcquireContextA(platform::kGostProviderName, platform::PROV_RSA_FULL,
                                              platform::CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(platform::GetLastError(), platform::NTE_KEYSET_NOT_DEF);
}

}  // namespace
}  // namespace verify
