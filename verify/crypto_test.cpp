#include "verify/crypto.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <tuple>

#include "platform/os/state_root.h"
#include "tests/fakes/fake_clock.h"
#include "tests/pki/cms.h"
#include "tests/pki/raw_signature.h"
#include "tests/pki/trust.h"
#include "verify/tmp_cert_arhive.h"

namespace verify {
namespace {

using platform::StoreLocation;
using tests::Pki;
using tests::pki::CmsEncoding;
using tests::pki::KeyKind;

constexpr std::string_view kDocument = "<doc>signed text</doc>\r\n";
constexpr Verdict kPassed = Verdict::Passed();
// The status of a check without a signer certificate.
constexpr uint32_t kNoSigner = 0xFFFFFFFF;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace

void PrintTo(const Verdict& verdict, std::ostream* out) {
  *out << (verdict.ok ? "passed " : "failed ") << std::hex << verdict.status;
}

namespace {

// The engine over real keys and certificates, with stores in a state folder of this process.
class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const std::string root =
        (std::filesystem::temp_directory_path() / ("engine-test-" + std::to_string(getpid())))
            .string();
    setenv("QUILMAREND_HOME", root.c_str(), 1);
    ASSERT_EQ(platform::StateRoot(), root);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(platform::StateRoot()); }
  // Every test starts with empty stores: the PKIs of one key kind share their CAs' names and keys.
  void SetUp() override { std::filesystem::remove_all(platform::StateRoot() + "/stores"); }

  // Trusted makes a PKI whose root is in the ROOT store and whose signer is in the MY store.
  static Pki Trusted(KeyKind kind, const tests::pki::CertSpec& leaf = tests::LeafSpec()) {
    Pki p = tests::MakePki(kind, leaf);
    tests::AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);
    tests::AddToStore(StoreLocation::kCurrentUser, "MY", p.leaf);
    return p;
  }

  // Detached is the request of a detached signature over `document`, revocation not checked.
  static CheckRequest Detached(std::string_view document, std::vector<uint8_t> signature) {
    CheckRequest request;
    request.document = Bytes(document);
    request.signature = std::move(signature);
    request.checkRevocation = false;
    return request;
  }

  VerifyResult Run(CheckRequest request) {
    return CCrypto(std::move(request), archive, engine).Verify();
  }

  tests::FakeClock clock{std::time(nullptr)};
  TmpCertArhive archive{clock};
  EngineContext engine = WithClock(clock);  // the clock is the engine's too

 private:
  static EngineContext WithClock(const platform::Clock& clock) {
    EngineContext engine;
    engine.clock = &clock;
    return engine;
  }
};

// The three verdicts the answer shows; the chain's "ok" is that a chain was built and passed the
// filters, its status the trust bits.
struct Verdicts {
  Verdict signature, certificate, chain;
};

void ExpectVerdicts(const VerifyResult& result, const Verdicts& expected) {
  EXPECT_EQ(Verdict({result.signatureOk, result.signatureStatus}), expected.signature);
  EXPECT_EQ(Verdict({result.certificateFound, result.certificateStatus}), expected.certificate);
  EXPECT_EQ(Verdict({result.chainOk, result.chainStatus}), expected.chain);
}

TEST_F(EngineTest, DetachedSignaturesOfEveryShape) {
  const Pki gost = Trusted(KeyKind::kGost2001);
  const Pki other = tests::MakePki(KeyKind::kEcdsaP256);
  const auto sign = [](const Pki& p, const tests::pki::CmsOptions& options = {}) {
    return tests::pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}}, {p.ca}, options);
  };
  const auto cut = [](std::vector<uint8_t> bytes, size_t length) {
    bytes.resize(length);
    return bytes;
  };
  const std::vector<uint8_t> der = sign(gost);
  const std::vector<uint8_t> ber = sign(gost, {.encoding = CmsEncoding::kBer});
  const std::vector<uint8_t> noAttributes = sign(gost, {.signedAttributes = false});
  const std::vector<uint8_t> twoSigners = tests::pki::SignDetached(
      Bytes(kDocument), {{gost.leaf, gost.leafKey}, {other.leaf, other.leafKey}}, {gost.ca});
  const Verdicts good{kPassed, kPassed, kPassed};
  const Verdicts noSigner{Verdict::Failed(0), Verdict::Failed(kNoSigner),
                          Verdict::Failed(kNoSigner)};
  struct Case {
    const char* why;
    std::string_view document;
    std::vector<uint8_t> signature;
    Verdicts expected;
    std::string signerSerial;  // "" without a signer
  };
  const auto failedWith = [](const Verdicts& base, uint32_t status) {
    Verdicts verdicts = base;
    verdicts.signature = Verdict::Failed(status);
    return verdicts;
  };
  const Case kCases[] = {
      {"DER", kDocument, der, good, "00A1B2"},
      {"indefinite-length BER", kDocument, ber, good, "00A1B2"},
      {"without signed attributes", kDocument, noAttributes, good, "00A1B2"},
      // A failed check keeps the certificate its signer names.
      {"changed document", "<doc>signed text!</doc>\r\n", der, failedWith(good, 0x80091007),
       "00A1B2"},
      {"other data, no signed attributes", "other", noAttributes, failedWith(good, 0x80090006),
       "00A1B2"},
      {"DER cut in half", kDocument, cut(der, der.size() / 2), failedWith(noSigner, 0x80093102),
       ""},
      {"DER one byte short", kDocument, cut(der, der.size() - 1), failedWith(noSigner, 0x80093102),
       ""},
      {"BER cut in half", kDocument, cut(ber, ber.size() / 2), failedWith(noSigner, 0x80093102),
       ""},
      {"BER one byte short", kDocument, cut(ber, ber.size() - 1), failedWith(noSigner, 0x80093102),
       ""},
      {"not a CMS message", kDocument, Bytes("this is not a CMS message"),
       failedWith(noSigner, 0x8009310B), ""},
      {"empty", kDocument, {}, failedWith(noSigner, 0x80093102), ""},
      {"two signers: the first is verified", kDocument, twoSigners, good, "00A1B2"},
      // Failing, a message of two signers leaves no certificate to judge.
      {"two signers over changed data", "changed", twoSigners, failedWith(noSigner, 0x80091007),
       ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const VerifyResult result = Run(Detached(c.document, c.signature));
    ExpectVerdicts(result, c.expected);
    EXPECT_EQ(result.names.serialNumber, c.signerSerial);
    EXPECT_EQ(result.signer != nullptr, !c.signerSerial.empty());
  }
}

TEST_F(EngineTest, EveryKeyKindVerifies) {
  for (const KeyKind kind : {KeyKind::kGost2001, KeyKind::kGost2012_256, KeyKind::kGost2012_512,
                             KeyKind::kRsa2048, KeyKind::kEcdsaP256}) {
    SCOPED_TRACE(tests::pki::KeyKindName(kind));
    const Pki p = Trusted(kind);
    ExpectVerdicts(Run(Detached(kDocument, tests::pki::SignDetached(
                                               Bytes(kDocument), {{p.leaf, p.leafKey}}, {p.ca}))),
                   {kPassed, kPassed, kPassed});
  }
}

TEST_F(EngineTest, SignerNamesAndTheCertificateTheSignerNames) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const SignerNames names =
      Run(Detached(kDocument,
                   tests::pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}}, {p.ca})))
          .names;
  EXPECT_EQ(names.subjectName, "Petrov Petr");
  EXPECT_EQ(names.subject, "Petrov Petr, Petr, Petrov, Org, RU");
  EXPECT_EQ(names.subjectX500, "CN=Petrov Petr, G=Petr, SN=Petrov, O=Org, C=RU");
  EXPECT_EQ(names.issuer, "Test CA, Org, RU");
  EXPECT_EQ(names.issuerX500, "CN=Test CA, O=Org, C=RU");
  // Without the signer's certificate in the message, its only certificate (the CA) is judged.
  const VerifyResult missing =
      Run(Detached(kDocument, tests::pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}},
                                                       {p.ca}, {.includeSignerCerts = false})));
  EXPECT_EQ(Verdict({missing.signatureOk, missing.signatureStatus}), Verdict::Failed(0x80092004));
  EXPECT_EQ(missing.names.subjectX500, "CN=Test CA, O=Org, C=RU");
}

// Chains and the filters on the signer certificate: each row has a signer of its own (the
// archive keeps a chain's result per certificate).
TEST_F(EngineTest, ChainsAndTheirFilters) {
  const int64_t now = std::time(nullptr);
  const Pki p = Trusted(KeyKind::kGost2001);
  const Pki untrusted = tests::MakePki(KeyKind::kEcdsaP256);
  tests::AddToStore(StoreLocation::kCurrentUser, "ADDRESSBOOK", untrusted.leaf);
  const Pki unknown = tests::MakePki(KeyKind::kRsa2048);
  tests::AddToStore(StoreLocation::kLocalMachine, "ROOT", unknown.root);
  using Shape = std::function<void(tests::pki::CertSpec&)>;
  const Shape plain = [](tests::pki::CertSpec&) {};
  const Shape threeDaysOld = [&](tests::pki::CertSpec& certSpec) {
    certSpec.notBefore = now - 3 * 86400;
  };
  const Shape expired = [&](tests::pki::CertSpec& certSpec) {
    certSpec.notBefore = now - 400 * 86400;
    certSpec.notAfter = now - 86400;
  };
  const Shape twoUsages = [](tests::pki::CertSpec& certSpec) {
    certSpec.extendedKeyUsage = {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"};
  };
  const Shape noUsage = [](tests::pki::CertSpec& certSpec) { certSpec.extendedKeyUsage.clear(); };
  struct Case {
    const char* why;
    const Pki* pki;
    Shape shape;
    std::function<void(CheckRequest&)> options;
    bool withChain;  // the CA (and, for `untrusted`, the root) travel with the message
    Verdict certificate, chain;
  };
  const auto none = [](CheckRequest&) {};
  const auto lifetime = [](int32_t days) {
    return [days](CheckRequest& request) { request.keyLifetimeDays = days; };
  };
  const auto oids = [](const char* list) {
    return [list](CheckRequest& request) { request.oidList = list; };
  };
  const auto find = [](bool on) {
    return [on](CheckRequest& request) { request.findCertificate = on; };
  };
  // 2001-05-05, when neither certificate of the chain was valid yet.
  const auto in2001 = [](CheckRequest& request) { request.verifyTime = 126334944000000000; };
  const Verdict exceeded = Verdict::Failed(0x80090317);
  const Verdict usageRefused = Verdict::Failed(0x80340017);
  const Verdict notFound = Verdict::Failed(0x80092004);
  const Case kCases[] = {
      {"trusted", &p, plain, none, true, kPassed, kPassed},
      {"intermediate missing", &p, plain, none, false, kPassed, Verdict::Passed(0x00010000)},
      {"untrusted root", &untrusted, plain, none, true, kPassed, Verdict::Passed(0x00000020)},
      {"expired", &p, expired, none, true, kPassed, Verdict::Passed(0x00000001)},
      {"judged in 2001", &p, plain, in2001, true, kPassed, Verdict::Passed(0x00000001)},
      // The key period counts from NotBefore to the clock's now, whatever time the chain is judged.
      {"judged in 2001, a day-old key of two days", &p, plain,
       [&](CheckRequest& request) {
         in2001(request);
         request.keyLifetimeDays = 2;
       },
       true, kPassed, Verdict::Passed(0x00000001)},
      {"key period of two days is over", &p, threeDaysOld, lifetime(2), true, kPassed, exceeded},
      {"key period of four days is not", &p, threeDaysOld, lifetime(4), true, kPassed, kPassed},
      {"a negative period is no check", &p, threeDaysOld, lifetime(-5), true, kPassed, kPassed},
      {"NotAfter ends the period when it comes first", &p, expired, lifetime(100000), true, kPassed,
       exceeded},
      {"second entry of a bare-comma list", &p, twoUsages, oids("1.2.3,1.3.6.1.5.5.7.3.4"), true,
       kPassed, kPassed},
      {"a blank after the comma is part of the entry", &p, twoUsages,
       oids("1.2.3, 1.3.6.1.5.5.7.3.4"), true, kPassed, usageRefused},
      {"no usage in common", &p, twoUsages, oids("1.2.3"), true, kPassed, usageRefused},
      {"no extended key usage at all", &p, noUsage, oids("1.3.6.1.5.5.7.3.4"), true, kPassed,
       usageRefused},
      {"not in the stores", &unknown, plain, none, true, notFound, kPassed},
      {"not looked up", &unknown, plain, find(false), true, kPassed, kPassed},
  };
  uint8_t serial = 0x20;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const Pki& pki = *c.pki;
    tests::pki::CertSpec certSpec = tests::LeafSpec();
    certSpec.serial = {++serial};
    c.shape(certSpec);
    const tests::pki::Cert leaf = tests::pki::Issue(certSpec, pki.leafKey, &pki.ca, pki.caKey);
    if (&pki != &unknown) tests::AddToStore(StoreLocation::kCurrentUser, "MY", leaf);
    std::vector<tests::pki::Cert> travelling;
    if (c.withChain) travelling.push_back(pki.ca);
    if (c.withChain && &pki == &untrusted) travelling.push_back(pki.root);
    CheckRequest request = Detached(
        kDocument, tests::pki::SignDetached(Bytes(kDocument), {{leaf, pki.leafKey}}, travelling));
    c.options(request);
    ExpectVerdicts(Run(std::move(request)), {kPassed, c.certificate, c.chain});
  }
}

// A chain's result is kept for the archive's lifetime for the same question: the same certificate
// asked with the same options. Each option that changes the verdict asks anew.
TEST_F(EngineTest, ArchiveAnswersForItsLifetimeTheSameQuestionOnly) {
  const Pki p = tests::MakePki(KeyKind::kGost2012_256);
  const std::vector<uint8_t> signature =
      tests::pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}}, {p.ca, p.root});
  const Verdict untrusted = Verdict::Passed(0x00000020);
  const VerifyResult first = Run(Detached(kDocument, signature));
  EXPECT_EQ(Verdict({first.chainOk, first.chainStatus}), untrusted);
  tests::AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);  // trusted from now on
  clock.now += 60;
  struct Case {
    const char* why;
    std::function<void(CheckRequest&)> option;
    Verdict chain;
  };
  const Case kCases[] = {
      {"the same options", [](CheckRequest&) {}, untrusted},
      // 2001-05-05, before the chain's certificates were valid.
      {"judged at another time",
       [](CheckRequest& request) { request.verifyTime = 126334944000000000; },
       Verdict::Passed(0x00000001)},
      {"revocation checked", [](CheckRequest& request) { request.checkRevocation = true; },
       Verdict::Passed(0x00000040)},  // no CRL or OCSP to ask
      {"a key period of a day", [](CheckRequest& request) { request.keyLifetimeDays = 1; },
       Verdict::Failed(0x80090317)},
      {"a usage filter", [](CheckRequest& request) { request.oidList = "9.9"; },
       Verdict::Failed(0x80340017)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    CheckRequest request = Detached(kDocument, signature);
    c.option(request);
    const VerifyResult result = Run(std::move(request));
    EXPECT_EQ(Verdict({result.chainOk, result.chainStatus}), c.chain);
  }
  clock.now += 1;
  const VerifyResult judged = Run(Detached(kDocument, signature));
  EXPECT_EQ(Verdict({judged.chainOk, judged.chainStatus}), kPassed);
}

// A certificate with the signer's issuer, serial number and names but another key, signed by
// nobody, is never taken for the signer: not found in the stores, its chain judged on its own,
// whichever of the two is checked first.
TEST_F(EngineTest, ForgedSignerIsNeverTakenForTheSigner) {
  const Pki p = Trusted(KeyKind::kEcdsaP256);
  const tests::pki::Key forgedKey = tests::pki::CachedKey(KeyKind::kEcdsaP256, 7);
  const tests::pki::Cert forged = tests::pki::Issue(tests::LeafSpec(), forgedKey, &p.ca, forgedKey);
  const std::vector<uint8_t> real =
      tests::pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}}, {p.ca});
  const std::vector<uint8_t> fake =
      tests::pki::SignDetached(Bytes("another"), {{forged, forgedKey}}, {p.ca});
  const Verdicts good{kPassed, kPassed, kPassed};
  const Verdicts impostor{kPassed, Verdict::Failed(0x80092004), Verdict::Passed(0x00000008)};
  constexpr std::string_view kAnother = "another";
  for (const auto& [document, signature, expected] : {std::tuple{kAnother, fake, impostor},
                                                      {kDocument, real, good},
                                                      {kAnother, fake, impostor},
                                                      {kDocument, real, good}}) {
    const VerifyResult result = Run(Detached(document, signature));
    EXPECT_EQ(result.names.serialNumber, "00A1B2");
    ExpectVerdicts(result, expected);
  }
}

// The key period ends at the clock's now, to the second: from NotBefore, for its days or up to
// NotAfter, whichever comes first. Each row is judged afresh (an archive of its own).
TEST_F(EngineTest, KeyPeriodEndsAtTheClocksNowToTheSecond) {
  const int64_t notBefore = clock.now;
  constexpr int64_t kDay = 86400;
  tests::pki::CertSpec certSpec = tests::LeafSpec();
  certSpec.notBefore = notBefore;
  certSpec.notAfter = notBefore + 30 * kDay;  // within the CA's year
  const Pki p = Trusted(KeyKind::kEcdsaP256, certSpec);
  const std::vector<uint8_t> signature =
      tests::pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}}, {p.ca});
  const Verdict exceeded = Verdict::Failed(0x80090317);
  const Verdict notTimeValid = Verdict::Passed(0x00000001);
  struct Case {
    int64_t at;  // seconds after NotBefore
    int32_t days;
    Verdict chain;
  };
  const Case kCases[] = {
      {-1, 2, exceeded},  // before the period begins
      {0, 2, kPassed},
      {2 * kDay, 2, kPassed},  // its last second
      {2 * kDay + 1, 2, exceeded},
      {2 * kDay + 1, 4, kPassed},
      {2 * kDay + 1, 0, exceeded},
      {2 * kDay + 1, -5, kPassed},  // no period
      // At NotAfter the period still holds and the chain finds the certificate expired.
      {30 * kDay, 100000, notTimeValid},
      {30 * kDay + 1, 100000, exceeded},
      {30 * kDay + 1, -1, notTimeValid},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.at << " s, " << c.days << " days");
    clock.now = notBefore + c.at;
    TmpCertArhive fresh(clock);
    CheckRequest request = Detached(kDocument, signature);
    request.keyLifetimeDays = c.days;
    const VerifyResult result = CCrypto(std::move(request), fresh, engine).Verify();
    EXPECT_EQ(Verdict({result.chainOk, result.chainStatus}), c.chain);
  }
}

// A bare signature value checked with the signer's certificate, as an XML signature carries it.
TEST_F(EngineTest, BareSignatureValues) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const std::string text = "  any signed text, not XML at all\t";
  const std::vector<uint8_t> value = tests::pki::SignRaw(p.leafKey, Bytes(text)).signature;
  struct Case {
    const char* why;
    std::vector<uint8_t> certificate, value;
    Verdict signature;
    std::string detail;
  };
  const Case kCases[] = {
      {"the value in the XML signature's order", p.leaf.Der(), value, kPassed, ""},
      {"the value in CryptoAPI's own order",
       p.leaf.Der(),
       {value.rbegin(), value.rend()},
       Verdict::Failed(0x80090006),
       ""},
      {"a certificate that is not DER", Bytes("not a certificate"), value,
       Verdict::Failed(0x8009310B), "Error import cert"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    CheckRequest request = Detached(text, c.value);
    request.certificate = c.certificate;
    const VerifyResult result = Run(std::move(request));
    EXPECT_EQ(Verdict({result.signatureOk, result.signatureStatus}), c.signature);
    EXPECT_EQ(result.signatureDetail, c.detail);
  }
}

}  // namespace
}  // namespace verify
