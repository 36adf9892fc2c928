#include "platform/crypto/chain.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/detail/verify_context.h"
#include "platform/os/state_root.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_internet.h"
#include "tests/pki/cert.h"
#include "tests/pki/crl.h"
#include "tests/pki/key.h"
#include "tests/pki/ocsp.h"

namespace platform {
namespace {

using tests::pki::Cert;
using tests::pki::CertSpec;
using tests::pki::Issue;
using tests::pki::Key;
using tests::pki::KeyKind;

CertContextPtr Context(const Cert& cert) {
  const std::vector<uint8_t> der = cert.Der();
  return CertContext::Create(der);
}

CertSpec Ca(const char* name) {
  CertSpec certSpec;
  certSpec.subject = {{"CN", name}};
  certSpec.isCa = true;
  return certSpec;
}

// LongCa is a CA certificate named `name`, valid from 2000 to 2100.
CertSpec LongCa(const char* name) {
  CertSpec certSpec = Ca(name);
  certSpec.notBefore = 946684800;  // 2000-01-01
  certSpec.notAfter = 4102444800;  // 2100-01-01
  return certSpec;
}

void WriteInto(const std::string& folder, const std::string& name, const Cert& cert) {
  std::filesystem::create_directories(folder);
  const std::vector<uint8_t> der = cert.Der();
  std::ofstream(folder + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
}

class ChainTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The state root is read once per process: point it at a folder of this test's own.
    static const std::string root =
        (std::filesystem::temp_directory_path() / ("chain-test-" + std::to_string(getpid())))
            .string();
    setenv("QUILMAREND_HOME", root.c_str(), 1);
    ASSERT_EQ(StateRoot(), root);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(StateRoot()); }
};

TEST_F(ChainTest, IssuersCertifyingEachOtherAreCyclic) {
  const Key keyA = tests::pki::CachedKey(KeyKind::kEcdsaP256, 0);
  const Key keyB = tests::pki::CachedKey(KeyKind::kEcdsaP256, 1);
  const Key leafKey = tests::pki::CachedKey(KeyKind::kEcdsaP256, 2);
  // B is certified by A and A by B: neither is self-issued, each names the other.
  const Cert selfA = Issue(Ca("A"), keyA, nullptr, keyA);
  const Cert b = Issue(Ca("B"), keyB, &selfA, keyA);
  const Cert a = Issue(Ca("A"), keyA, &b, keyB);
  CertSpec leafSpec;
  leafSpec.subject = {{"CN", "Leaf"}};
  const Cert leaf = Issue(leafSpec, leafKey, &a, keyA);

  CertContextPtr end = Context(leaf);
  auto companions = std::make_shared<CertCollection>();
  companions->push_back(Context(a));
  companions->push_back(Context(b));
  end->SetCompanions(companions);
  const std::optional<uint32_t> status = CertGetCertificateChain(*end, ChainParameters{});
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status & (CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_PARTIAL_CHAIN), CERT_TRUST_IS_CYCLIC);
}

TEST_F(ChainTest, StoreNamesMatchWhateverTheirCaseAndNewFilesAreSeen) {
  const Key key = tests::pki::CachedKey(KeyKind::kEcdsaP256, 3);
  const Cert root = Issue(Ca("Root"), key, nullptr, key);
  CertSpec leafSpec;
  leafSpec.subject = {{"CN", "Signer"}};
  leafSpec.serial = {0x42};
  const Cert leaf = Issue(leafSpec, key, &root, key);
  CertContextPtr end = Context(leaf);

  // Untrusted until the root appears in a folder named in its own case.
  EXPECT_EQ(CertGetCertificateChain(*end, ChainParameters{}), CERT_TRUST_IS_PARTIAL_CHAIN);
  WriteInto(StateRoot() + "/stores/LocalMachine/Root", "root.crt", root);
  EXPECT_EQ(CertGetCertificateChain(*end, ChainParameters{}), 0u);

  std::unique_ptr<CertStore> book = CertStore::Open(StoreLocation::kCurrentUser, "addressbook");
  EXPECT_FALSE(book->FindSubjectCert(end->Info()));
  WriteInto(StateRoot() + "/stores/CurrentUser/AddressBook", "signer.cer", leaf);
  book = CertStore::Open(StoreLocation::kCurrentUser, "ADDRESSBOOK");
  EXPECT_TRUE(book->FindSubjectCert(end->Info()));
  // A file that is not a certificate is passed over.
  std::ofstream(StateRoot() + "/stores/CurrentUser/AddressBook/broken.cer") << "not DER";
  EXPECT_TRUE(
      CertStore::Open(StoreLocation::kCurrentUser, "AddressBook")->FindSubjectCert(end->Info()));
}

TEST_F(ChainTest, JudgedAtTheRequestedTime) {
  const Key key = tests::pki::CachedKey(KeyKind::kEcdsaP256, 4);
  const Cert root = Issue(LongCa("Timed Root"), key, nullptr, key);
  WriteInto(StateRoot() + "/stores/LocalMachine/ROOT", "timed.cer", root);
  CertSpec leafSpec;
  leafSpec.subject = {{"CN", "Timed"}};
  leafSpec.notBefore = 1577836800;  // 2020-01-01
  leafSpec.notAfter = 1609459200;   // 2021-01-01
  const Cert leaf = Issue(leafSpec, key, &root, key);
  CertContextPtr end = Context(leaf);
  ChainParameters in2020;
  in2020.time = (1590000000ULL + 11644473600ULL) * 10000000ULL;
  EXPECT_EQ(CertGetCertificateChain(*end, in2020), 0u);
  EXPECT_EQ(CertGetCertificateChain(*end, ChainParameters{}), CERT_TRUST_IS_NOT_TIME_VALID);
}

// What the chain engine downloads is judged by the clock it is given: a cached CRL is used until
// its nextUpdate and fetched again from then on, a fetched issuer is kept for an hour, and an OCSP
// answer counts from its thisUpdate to its nextUpdate, give or take five minutes.
TEST_F(ChainTest, DownloadsAreKeptAndJudgedByTheGivenClock) {
  const int64_t t = 1700000000;
  const Key rootKey = tests::pki::CachedKey(KeyKind::kEcdsaP256, 6);
  const Key caKey = tests::pki::CachedKey(KeyKind::kEcdsaP256, 7);
  const Cert root = Issue(LongCa("Clocked Root"), rootKey, nullptr, rootKey);
  WriteInto(StateRoot() + "/stores/LocalMachine/ROOT", "clocked.cer", root);
  const Cert ca = Issue(LongCa("Clocked CA"), caKey, &root, rootKey);  // fetched from its URL
  CertSpec leafSpec = LongCa("Clocked leaf");
  leafSpec.isCa = false;
  leafSpec.caIssuersUrls = {"http://issuer.test/ca.cer"};
  leafSpec.crlUrls = {"http://crl.test/ca.crl"};
  const Cert crlLeaf = Issue(leafSpec, caKey, &ca, caKey);
  leafSpec.serial = {0x02};
  leafSpec.crlUrls = {};
  leafSpec.ocspUrls = {"http://ocsp.test/"};
  const Cert ocspLeaf = Issue(leafSpec, caKey, &ca, caKey);

  tests::FakeClock clock(t);
  tests::FakeInternet internet;
  internet.Serve("http://issuer.test/ca.cer", ca.Der());
  internet.Serve("http://crl.test/ca.crl", tests::pki::MakeCrl(ca, caKey, {}, t, t + 1800));
  ChainParameters parameters;
  parameters.checkRevocation = true;
  parameters.clock = &clock;
  parameters.internet = &internet;
  constexpr uint32_t kOffline =
      CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

  struct Case {
    int64_t at;       // seconds after t
    bool renewCrl;    // serve a CRL current until t + 7200 first
    uint32_t status;  // of the CRL leaf
    int crlHits, issuerHits;
  };
  const Case kCases[] = {
      {0, false, 0, 1, 1},            // both fetched
      {1799, false, 0, 1, 1},         // both cached
      {1800, false, kOffline, 2, 1},  // at its nextUpdate the CRL is fetched again, and is stale
      {1801, true, 0, 3, 1},          // the renewed CRL is fetched
      {3599, false, 0, 3, 1},         // and cached
      {3600, false, 0, 3, 2},         // the issuer is an hour old
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.at);
    clock.now = t + c.at;
    if (c.renewCrl) {
      internet.Serve("http://crl.test/ca.crl",
                     tests::pki::MakeCrl(ca, caKey, {}, t + c.at, t + 7200));
    }
    EXPECT_EQ(CertGetCertificateChain(*Context(crlLeaf), parameters), c.status);
    EXPECT_EQ(internet.Hits("http://crl.test/ca.crl"), c.crlHits);
    EXPECT_EQ(internet.Hits("http://issuer.test/ca.cer"), c.issuerHits);
  }

  internet.Serve("http://ocsp.test/",
                 tests::pki::MakeOcspResponse(ca, caKey, ocspLeaf,
                                              tests::pki::OcspCertStatus::kGood, t, t + 600));
  const std::pair<int64_t, uint32_t> kOcspCases[] = {
      {-301, kOffline},  // issued more than five minutes ahead of the clock
      {-300, 0},
      {899, 0},
      {900, kOffline},  // five minutes past its nextUpdate
  };
  for (const auto& [at, status] : kOcspCases) {
    SCOPED_TRACE(at);
    clock.now = t + at;
    EXPECT_EQ(CertGetCertificateChain(*Context(ocspLeaf), parameters), status);
  }
}

// The end certificate's revocation: OCSP first when it names a responder, whose good or revoked
// answer decides; the CRL otherwise and after any other outcome; offline only when both fail.
TEST_F(ChainTest, RevocationSourcesInTheirOrder) {
  const int64_t t = 1700000000;
  const Key rootKey = tests::pki::CachedKey(KeyKind::kEcdsaP256, 8);
  const Key caKey = tests::pki::CachedKey(KeyKind::kEcdsaP256, 9);
  const Cert root = Issue(LongCa("Revoking Root"), rootKey, nullptr, rootKey);
  WriteInto(StateRoot() + "/stores/LocalMachine/ROOT", "revoking.cer", root);
  const Cert ca = Issue(LongCa("Revoking CA"), caKey, &root, rootKey);
  WriteInto(StateRoot() + "/stores/LocalMachine/CA", "revoking-ca.cer", ca);
  tests::FakeClock clock(t);
  tests::FakeInternet internet;
  // 0x74 and 0x75 are revoked in the CRL.
  internet.Serve("http://crl.test/ca.crl", tests::pki::MakeCrl(ca, caKey,
                                                               {{{0x74}, t - 3600, std::nullopt},
                                                                {{0x75}, t - 3600, std::nullopt}},
                                                               t - 60, t + 86400));
  internet.Serve("http://ocsp.test/error",
                 tests::pki::MakeOcspError(tests::pki::OcspResponseStatus::kInternalError));
  ChainParameters parameters;
  parameters.checkRevocation = true;
  parameters.clock = &clock;
  parameters.internet = &internet;

  using tests::pki::OcspCertStatus;
  enum class Responder { kNone, kUnreachable, kError, kAnswers };
  struct Case {
    const char* why;
    uint8_t serial;
    Responder responder;
    OcspCertStatus answer;  // when it answers
    int64_t answerAge;      // seconds since the answer's thisUpdate
    bool crl;               // the certificate names the CRL (else an unreachable one)
    uint32_t status;
  };
  constexpr uint32_t kRevoked = CERT_TRUST_IS_REVOKED;
  constexpr uint32_t kOffline =
      CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
  const Case kCases[] = {
      {"CRL alone, good", 0x70, Responder::kNone, {}, 0, true, 0},
      {"CRL alone, revoked", 0x74, Responder::kNone, {}, 0, true, kRevoked},
      {"CRL unreachable", 0x71, Responder::kNone, {}, 0, false, kOffline},
      {"revoked by OCSP, whatever the CRL says", 0x72, Responder::kAnswers,
       OcspCertStatus::kRevoked, 60, true, kRevoked},
      {"a current good answer decides without the CRL", 0x76, Responder::kAnswers,
       OcspCertStatus::kGood, 60, false, 0},
      {"responder unreachable, CRL good", 0x73, Responder::kUnreachable, {}, 0, true, 0},
      {"responder error status, CRL good", 0x77, Responder::kError, {}, 0, true, 0},
      {"responder error status, revoked in the CRL",
       0x74,
       Responder::kError,
       {},
       0,
       true,
       kRevoked},
      {"responder does not know it, CRL good", 0x78, Responder::kAnswers, OcspCertStatus::kUnknown,
       60, true, 0},
      {"stale good answer, revoked in the CRL", 0x75, Responder::kAnswers, OcspCertStatus::kGood,
       7200, true, kRevoked},
      {"responder and CRL unreachable", 0x79, Responder::kUnreachable, {}, 0, false, kOffline},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    CertSpec leafSpec = LongCa("Revocable");
    leafSpec.isCa = false;
    leafSpec.serial = {c.serial};
    leafSpec.crlUrls = {c.crl ? "http://crl.test/ca.crl" : "http://nowhere.test/ca.crl"};
    const std::string responder = "http://ocsp.test/" + std::to_string(c.serial);
    if (c.responder == Responder::kUnreachable) leafSpec.ocspUrls = {"http://nowhere.test/ocsp"};
    if (c.responder == Responder::kError) leafSpec.ocspUrls = {"http://ocsp.test/error"};
    if (c.responder == Responder::kAnswers) leafSpec.ocspUrls = {responder};
    const Cert leaf = Issue(leafSpec, caKey, &ca, caKey);
    if (c.responder == Responder::kAnswers) {
      internet.Serve(responder,
                     tests::pki::MakeOcspResponse(ca, caKey, leaf, c.answer, t - c.answerAge,
                                                  t - c.answerAge + 3600));
    }
    EXPECT_EQ(CertGetCertificateChain(*Context(leaf), parameters), c.status);
  }
  // Without any source the status is unknown, but not offline.
  CertSpec silentSpec = LongCa("Sourceless");
  silentSpec.isCa = false;
  EXPECT_EQ(CertGetCertificateChain(*Context(Issue(silentSpec, caKey, &ca, caKey)), parameters),
            CERT_TRUST_REVOCATION_STATUS_UNKNOWN);
}

// A verification that fails inside the library without naming an error is no verdict, never trust.
TEST_F(ChainTest, VerificationThatCannotRunIsNotTrusted) {
  const Key key = tests::pki::CachedKey(KeyKind::kEcdsaP256, 5);
  const Cert self = Issue(Ca("Self"), key, nullptr, key);
  const std::vector<uint8_t> der = self.Der();
  const unsigned char* p = der.data();
  const detail::X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  ASSERT_TRUE(x509);
  for (const bool runs : {true, false}) {
    SCOPED_TRACE(runs ? "verification runs" : "verification fails inside");
    const detail::X509StorePtr store(X509_STORE_new());
    ASSERT_EQ(X509_STORE_add_cert(store.get(), x509.get()), 1);
    if (!runs) X509_STORE_set_verify(store.get(), [](X509_STORE_CTX*) { return -1; });
    const detail::X509StoreCtxPtr context(X509_STORE_CTX_new());
    ASSERT_EQ(X509_STORE_CTX_init(context.get(), store.get(), x509.get(), nullptr), 1);
    const std::optional<uint32_t> bits = detail::VerifyContext(context.get());
    EXPECT_EQ(bits, runs ? std::optional<uint32_t>(0) : std::nullopt);
    if (!runs) {
      EXPECT_EQ(GetLastError(), NTE_FAIL);
    }
  }
}

}  // namespace
}  // namespace platform
