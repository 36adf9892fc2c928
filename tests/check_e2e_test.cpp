// End-to-end tests of CHECK with detached CMS signatures: a real server, a PKI made on the fly,
// certificate stores in the test's state folder, CRLs and OCSP answers served on 127.0.0.1.

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"
#include "tests/pki/crl.h"
#include "tests/pki/http_server.h"
#include "tests/pki/ocsp.h"

namespace tests {
namespace {

using pki::KeyKind;
using platform::StoreLocation;

constexpr std::string_view kDocument = "<doc>signed text</doc>\r\n";

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

class CheckE2E : public ::testing::Test {
 protected:
  void SetUp() override { server = StartServer(8); }

  // Trusted makes a PKI whose root is in the ROOT store and whose signer is in the MY store.
  Pki Trusted(KeyKind kind, const pki::CertSpec& leaf = LeafSpec()) {
    Pki p = MakePki(kind, leaf);
    AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);
    AddToStore(StoreLocation::kCurrentUser, "MY", p.leaf);
    return p;
  }

  std::vector<uint8_t> Sign(const Pki& p, std::string_view document = kDocument,
                            const pki::CmsOptions& options = {}) {
    return pki::SignDetached(Bytes(document), {{p.leaf, p.leafKey}}, {p.ca}, options);
  }

  std::string Check(std::string_view document, const std::vector<uint8_t>& signature,
                    const std::vector<std::string>& settings = {"CRLOFF"}) {
    TestClient client = CheckClient(server->BoundPort(), document, signature, settings);
    return RunCheck(client);
  }

  std::unique_ptr<server::TCPServer> server;
};

TEST_F(CheckE2E, GoodSignatureWithTrustedChainAnswersExactly) {
  const Pki p = Trusted(KeyKind::kGost2001);
  EXPECT_EQ(Check(kDocument, Sign(p)),
            "CheckSignature: OK\r\n"
            "CheckSignatureStatus: 00000000\r\n"
            "FindCertificate: OK\r\n"
            "FindCertificateStatus: 00000000\r\n"
            "CheckChain: OK\r\n"
            "CheckChainStatus: \r\n"
            "SubjectName: Petrov Petr\r\n"
            "Subject: Petrov Petr, Petr, Petrov, Org, RU\r\n"
            "SubjectX500: CN=Petrov Petr, G=Petr, SN=Petrov, O=Org, C=RU\r\n"
            "Issuer: Test CA, Org, RU\r\n"
            "IssuerX500: CN=Test CA, O=Org, C=RU\r\n"
            "SubjectSN: 00A1B2\r\n"
            ".\r\n");
}

TEST_F(CheckE2E, EveryKeyKindVerifies) {
  for (const KeyKind kind :
       {KeyKind::kGost2012_256, KeyKind::kGost2012_512, KeyKind::kRsa2048, KeyKind::kEcdsaP256}) {
    SCOPED_TRACE(pki::KeyKindName(kind));
    const Pki p = Trusted(kind);
    const std::string answer = Check(kDocument, Sign(p));
    EXPECT_EQ(AnswerLine(answer, "CheckSignature"), "OK");
    EXPECT_EQ(AnswerLine(answer, "CheckChain"), "OK") << answer;
  }
}

TEST_F(CheckE2E, IndefiniteLengthBerSignatureVerifies) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const auto signature = Sign(p, kDocument, {.encoding = pki::CmsEncoding::kBer});
  ASSERT_EQ(signature[1], 0x80);
  EXPECT_EQ(AnswerLine(Check(kDocument, signature), "CheckSignature"), "OK");
}

TEST_F(CheckE2E, TamperedDocumentFailsWithHashValueAndKeepsTheCertificate) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const std::string answer = Check("<doc>signed text!</doc>\r\n", Sign(p));
  EXPECT_EQ(answer.substr(0, answer.find("SubjectName")),
            "CheckSignature: FAIL\r\n"
            "CheckSignatureStatus: " +
                kHashValueText +
                " (80091007)\r\n"
                "FindCertificate: OK\r\n"
                "FindCertificateStatus: 00000000\r\n"
                "CheckChain: OK\r\n"
                "CheckChainStatus: \r\n");
  EXPECT_EQ(AnswerLine(answer, "SubjectSN"), "00A1B2");
}

TEST_F(CheckE2E, SignatureWithoutAttributesOverOtherDataIsABadSignature) {
  const Pki p = Trusted(KeyKind::kEcdsaP256);
  const auto signature = Sign(p, kDocument, {.signedAttributes = false});
  EXPECT_EQ(AnswerLine(Check(kDocument, signature), "CheckSignature"), "OK");
  EXPECT_EQ(AnswerLine(Check("other", signature), "CheckSignatureStatus"),
            kBadSignatureText + " (80090006)");
}

TEST_F(CheckE2E, GarbageAndEmptySignaturesAnswerExactly) {
  const std::string noCertificate =
      "FindCertificate: FAIL\r\n"
      "FindCertificateStatus: ffffffff\r\n"
      "CheckChain: FAIL\r\n"
      "CheckChainStatus: " +
      AllChainPhrases() +
      " (ffffffff)\r\n"
      "SubjectName: \r\nSubject: \r\nSubjectX500: \r\nIssuer: \r\nIssuerX500: \r\n.\r\n";
  EXPECT_EQ(Check(kDocument, Bytes("this is not a CMS message")),
            "CheckSignature: FAIL\r\nCheckSignatureStatus: " + kBadTagText + " (8009310b)\r\n" +
                noCertificate);
  EXPECT_EQ(Check(kDocument, {}), "CheckSignature: FAIL\r\nCheckSignatureStatus: " + kEodText +
                                      " (80093102)\r\n" + noCertificate);
}

TEST_F(CheckE2E, TruncatedSignatureReportsEndOfData) {
  const Pki p = Trusted(KeyKind::kGost2001);
  for (const pki::CmsEncoding encoding : {pki::CmsEncoding::kDer, pki::CmsEncoding::kBer}) {
    SCOPED_TRACE(encoding == pki::CmsEncoding::kDer ? "DER" : "BER");
    const auto whole = Sign(p, kDocument, {.encoding = encoding});
    for (const size_t length : {whole.size() / 2, whole.size() - 1}) {
      const std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
      EXPECT_EQ(AnswerLine(Check(kDocument, cut), "CheckSignatureStatus"),
                kEodText + " (80093102)");
    }
  }
}

TEST_F(CheckE2E, TwoSignersAreVerifiedForTheFirstOnly) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const Pki other = MakePki(KeyKind::kEcdsaP256);
  const auto signature = pki::SignDetached(
      Bytes(kDocument), {{p.leaf, p.leafKey}, {other.leaf, other.leafKey}}, {p.ca});
  EXPECT_EQ(AnswerLine(Check(kDocument, signature), "CheckSignature"), "OK");
  // Failing, a message of two signers leaves no certificate to judge.
  const std::string failed = Check("changed", signature);
  EXPECT_EQ(AnswerLine(failed, "CheckSignatureStatus"), kHashValueText + " (80091007)");
  EXPECT_EQ(AnswerLine(failed, "FindCertificateStatus"), "ffffffff");
  EXPECT_EQ(AnswerLine(failed, "Subject"), "");
}

TEST_F(CheckE2E, SignerCertificateMissingFromTheMessage) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const auto signature = Sign(p, kDocument, {.includeSignerCerts = false});
  const std::string answer = Check(kDocument, signature);
  EXPECT_EQ(AnswerLine(answer, "CheckSignatureStatus"), kNotFoundText + " (80092004)");
  // The message's only certificate (the CA) is what the later steps see.
  EXPECT_EQ(AnswerLine(answer, "SubjectX500"), "CN=Test CA, O=Org, C=RU");
}

TEST_F(CheckE2E, UntrustedRootBuildsAChainThatFails) {
  const Pki p = MakePki(KeyKind::kGost2001);
  AddToStore(StoreLocation::kCurrentUser, "ADDRESSBOOK", p.leaf);
  const std::string answer =
      Check(kDocument, pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}}, {p.ca, p.root}));
  EXPECT_EQ(answer.substr(answer.find("FindCertificate:"),
                          answer.find("SubjectName") - answer.find("FindCertificate:")),
            "FindCertificate: OK\r\n"
            "FindCertificateStatus: 00000000\r\n"
            "CheckChain: FAIL\r\n"
            "CheckChainStatus: " +
                kUntrustedRootPhrase + " (00000020)\r\n");
}

TEST_F(CheckE2E, MissingIntermediateIsAPartialChain) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const auto signature = pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}});
  EXPECT_EQ(AnswerLine(Check(kDocument, signature), "CheckChainStatus"),
            kPartialChainPhrase + " (00010000)");
}

TEST_F(CheckE2E, IntermediateFromTheCaStoreOrFromItsAiaUrl) {
  pki::HttpServer http;
  pki::CertSpec leaf = LeafSpec();
  leaf.caIssuersUrls = {http.Url("/ca.cer")};
  const Pki p = Trusted(KeyKind::kGost2012_256, leaf);
  http.Serve("/ca.cer", p.ca.Der(), "application/pkix-cert");
  const auto signature = pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}});
  EXPECT_EQ(AnswerLine(Check(kDocument, signature), "CheckChain"), "OK");
  EXPECT_EQ(http.Hits("/ca.cer"), 1);

  const Pki q = Trusted(KeyKind::kEcdsaP256);
  AddToStore(StoreLocation::kLocalMachine, "CA", q.ca);
  EXPECT_EQ(AnswerLine(Check(kDocument, pki::SignDetached(Bytes(kDocument), {{q.leaf, q.leafKey}})),
                       "CheckChain"),
            "OK");
}

TEST_F(CheckE2E, ExpiredCertificateIsNotTimeValid) {
  pki::CertSpec leaf = LeafSpec();
  const int64_t now = std::time(nullptr);
  leaf.notBefore = now - 400 * 86400;
  leaf.notAfter = now - 30 * 86400;
  const Pki p = Trusted(KeyKind::kGost2001, leaf);
  const std::string answer = Check(kDocument, Sign(p));
  EXPECT_EQ(AnswerLine(answer, "CheckSignature"), "OK");  // the signature step judges no time
  EXPECT_EQ(AnswerLine(answer, "CheckChainStatus"), kNotTimeValidPhrase + " (00000001)");
}

TEST_F(CheckE2E, RevocationByCrlCachedUntilNextUpdate) {
  pki::HttpServer http;
  const int64_t now = std::time(nullptr);
  pki::CertSpec leaf = LeafSpec();
  leaf.crlUrls = {http.Url("/ca.crl")};
  const Pki p = Trusted(KeyKind::kGost2001, leaf);
  pki::CertSpec second = leaf;
  second.serial = {0x0B};
  const pki::Cert revoked = pki::Issue(second, p.leafKey, &p.ca, p.caKey);
  http.Serve("/ca.crl",
             pki::MakeCrl(p.ca, p.caKey, {{revoked.Serial(), now - 3600, std::nullopt}}, now - 60,
                          now + 86400),
             "application/pkix-crl");
  EXPECT_EQ(AnswerLine(Check(kDocument, Sign(p), {"CRLON"}), "CheckChain"), "OK");
  const auto revokedSignature = pki::SignDetached(Bytes(kDocument), {{revoked, p.leafKey}}, {p.ca});
  EXPECT_EQ(AnswerLine(Check(kDocument, revokedSignature, {"CRLON"}), "CheckChainStatus"),
            kRevokedPhrase + " (00000004)");
  EXPECT_EQ(http.Hits("/ca.crl"), 1);  // the second certificate used the cached list
}

TEST_F(CheckE2E, RevocationByOcspTakesPrecedence) {
  pki::HttpServer http;
  const int64_t now = std::time(nullptr);
  pki::CertSpec leaf = LeafSpec();
  leaf.ocspUrls = {http.Url("/ocsp")};
  leaf.crlUrls = {http.Url("/never.crl")};
  const Pki p = Trusted(KeyKind::kGost2001, leaf);
  http.Serve("/ocsp",
             pki::MakeOcspResponse(p.ca, p.caKey, p.leaf, pki::OcspCertStatus::kRevoked, now - 60,
                                   now + 3600, now - 7200),
             "application/ocsp-response");
  EXPECT_EQ(AnswerLine(Check(kDocument, Sign(p), {"CRLON"}), "CheckChainStatus"),
            kRevokedPhrase + " (00000004)");
  EXPECT_EQ(http.Hits("/never.crl"), 0);
}

TEST_F(CheckE2E, GoodOcspAnswerAndUnsuccessfulResponder) {
  pki::HttpServer http;
  const int64_t now = std::time(nullptr);
  pki::CertSpec leaf = LeafSpec();
  leaf.ocspUrls = {http.Url("/ocsp")};
  const Pki p = Trusted(KeyKind::kEcdsaP256, leaf);
  http.Serve("/ocsp",
             pki::MakeOcspResponse(p.ca, p.caKey, p.leaf, pki::OcspCertStatus::kGood, now - 60,
                                   now + 3600),
             "application/ocsp-response");
  EXPECT_EQ(AnswerLine(Check(kDocument, Sign(p), {"CRLON"}), "CheckChain"), "OK");

  pki::CertSpec other = leaf;
  other.serial = {0x0C};
  const pki::Cert second = pki::Issue(other, p.leafKey, &p.ca, p.caKey);
  http.Serve("/ocsp", pki::MakeOcspError(pki::OcspResponseStatus::kTryLater),
             "application/ocsp-response");
  EXPECT_EQ(AnswerLine(
                Check(kDocument, pki::SignDetached(Bytes(kDocument), {{second, p.leafKey}}, {p.ca}),
                      {"CRLON"}),
                "CheckChainStatus"),
            kRevocationUnknownPhrase + kOfflinePhrase + " (01000040)");
}

TEST_F(CheckE2E, UnreachableCrlAndNoRevocationSource) {
  pki::CertSpec leaf = LeafSpec();
  leaf.crlUrls = {"http://127.0.0.1:1/none.crl"};
  const Pki p = Trusted(KeyKind::kGost2001, leaf);
  EXPECT_EQ(AnswerLine(Check(kDocument, Sign(p), {"CRLON"}), "CheckChainStatus"),
            kRevocationUnknownPhrase + kOfflinePhrase + " (01000040)");

  const Pki q = Trusted(KeyKind::kEcdsaP256);  // no CRL distribution point, no OCSP
  EXPECT_EQ(AnswerLine(Check(kDocument, Sign(q), {"CRLON"}), "CheckChainStatus"),
            kRevocationUnknownPhrase + " (00000040)");
}

TEST_F(CheckE2E, FindOnAndOff) {
  const Pki p = MakePki(KeyKind::kGost2001);
  AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);
  const auto signature = Sign(p);
  EXPECT_EQ(AnswerLine(Check(kDocument, signature, {"CRLOFF", "FINDON"}), "FindCertificateStatus"),
            kNotFoundText + " (80092004)");
  const std::string off = Check(kDocument, signature, {"CRLOFF", "FINDOFF"});
  EXPECT_EQ(AnswerLine(off, "FindCertificate"), "OK");
  EXPECT_EQ(AnswerLine(off, "FindCertificateStatus"), "00000000");
  // The local machine's address book counts; its folder name matches whatever its case.
  AddToFolder(StateRoot() + "/stores/LocalMachine/AddressBook", p.leaf);
  EXPECT_EQ(AnswerLine(Check(kDocument, signature, {"CRLOFF", "FINDON"}), "FindCertificate"), "OK");
}

// Leaf returns a signer certificate of `p`'s CA with serial `serial`, shaped by `shape`.
pki::Cert Leaf(const Pki& p, uint8_t serial, const std::function<void(pki::CertSpec&)>& shape) {
  pki::CertSpec certSpec = LeafSpec();
  certSpec.serial = {serial};
  shape(certSpec);
  return pki::Issue(certSpec, p.leafKey, &p.ca, p.caKey);
}

TEST_F(CheckE2E, KeyLifetimePeriod) {
  const int64_t now = std::time(nullptr);
  const Pki p = Trusted(KeyKind::kGost2001);
  const auto threeDaysOld = [&](pki::CertSpec& certSpec) { certSpec.notBefore = now - 3 * 86400; };
  const auto expired = [&](pki::CertSpec& certSpec) {
    certSpec.notBefore = now - 400 * 86400;
    certSpec.notAfter = now - 86400;
  };
  struct Case {
    const char* why;
    uint8_t serial;
    std::function<void(pki::CertSpec&)> shape;
    std::string setting;
    std::string chainStatusEnd;  // "" for a passing chain
  };
  const std::string exceeded = kKeyLifetimeText + " (80090317)";
  const Case kCases[] = {
      {"period of two days is over", 0x21, threeDaysOld, "SKLIFETIME 2", exceeded},
      {"period of four days is not", 0x22, threeDaysOld, "SKLIFETIME 4", ""},
      {"negative switches the check off", 0x23, threeDaysOld, "SKLIFETIME -5", ""},
      {"the limit is NotAfter when it comes first", 0x24, expired, "SKLIFETIME 100000", exceeded},
      {"without the check an expired certificate is not time valid", 0x25, expired, "SKLIFETIME -1",
       kNotTimeValidPhrase + " (00000001)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const pki::Cert leaf = Leaf(p, c.serial, c.shape);
    const auto signature = pki::SignDetached(Bytes(kDocument), {{leaf, p.leafKey}}, {p.ca});
    const std::string status =
        AnswerLine(Check(kDocument, signature, {"CRLOFF", c.setting}), "CheckChainStatus");
    EXPECT_TRUE(status.ends_with(c.chainStatusEnd)) << status;
    EXPECT_EQ(status.empty(), c.chainStatusEnd.empty()) << status;
  }
}

TEST_F(CheckE2E, OcspWithoutAGoodOrRevokedAnswerFallsBackToTheCrl) {
  pki::HttpServer http;
  const int64_t now = std::time(nullptr);
  const Pki p = Trusted(KeyKind::kEcdsaP256);
  const std::string unreachable = "http://127.0.0.1:1/none";
  http.Serve("/error.ocsp", pki::MakeOcspError(pki::OcspResponseStatus::kInternalError),
             "application/ocsp-response");
  http.Serve("/ca.crl",
             pki::MakeCrl(p.ca, p.caKey,
                          {{{0x74}, now - 3600, std::nullopt}, {{0x75}, now - 3600, std::nullopt}},
                          now - 60, now + 86400),
             "application/pkix-crl");
  enum class Responder { kUnreachable, kError, kUnknown, kStaleGood, kGood };
  struct Case {
    const char* why;
    uint8_t serial;  // 0x74 and 0x75 are revoked in the CRL
    Responder responder;
    bool crlReachable;
    std::string chainStatus;
  };
  const std::string revoked = kRevokedPhrase + " (00000004)";
  const std::string offline = kRevocationUnknownPhrase + kOfflinePhrase + " (01000040)";
  const Case kCases[] = {
      {"responder unreachable, CRL good", 0x71, Responder::kUnreachable, true, ""},
      {"responder error status, CRL good", 0x72, Responder::kError, true, ""},
      {"responder does not know the certificate, CRL good", 0x73, Responder::kUnknown, true, ""},
      {"responder error status, revoked in the CRL", 0x74, Responder::kError, true, revoked},
      {"stale good answer, revoked in the CRL", 0x75, Responder::kStaleGood, true, revoked},
      {"a current good answer decides without the CRL", 0x76, Responder::kGood, false, ""},
      {"responder and CRL unreachable", 0x77, Responder::kUnreachable, false, offline},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const std::string ocspPath = "/" + std::to_string(c.serial) + ".ocsp";
    const pki::Cert leaf = Leaf(p, c.serial, [&](pki::CertSpec& certSpec) {
      certSpec.ocspUrls = {c.responder == Responder::kUnreachable ? unreachable
                           : c.responder == Responder::kError     ? http.Url("/error.ocsp")
                                                                  : http.Url(ocspPath)};
      certSpec.crlUrls = {c.crlReachable ? http.Url("/ca.crl") : unreachable};
    });
    if (c.responder == Responder::kUnknown || c.responder == Responder::kGood) {
      const auto status = c.responder == Responder::kGood ? pki::OcspCertStatus::kGood
                                                          : pki::OcspCertStatus::kUnknown;
      http.Serve(ocspPath, pki::MakeOcspResponse(p.ca, p.caKey, leaf, status, now - 60, now + 3600),
                 "application/ocsp-response");
    } else if (c.responder == Responder::kStaleGood) {
      http.Serve(ocspPath,
                 pki::MakeOcspResponse(p.ca, p.caKey, leaf, pki::OcspCertStatus::kGood, now - 7200,
                                       now - 3600),
                 "application/ocsp-response");
    }
    const auto signature = pki::SignDetached(Bytes(kDocument), {{leaf, p.leafKey}}, {p.ca});
    EXPECT_EQ(AnswerLine(Check(kDocument, signature, {"CRLON"}), "CheckChainStatus"),
              c.chainStatus);
  }
}

TEST_F(CheckE2E, ExtendedKeyUsageFilter) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const auto twoUsages = [](pki::CertSpec& certSpec) {
    certSpec.extendedKeyUsage = {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"};
  };
  const auto noUsage = [](pki::CertSpec& certSpec) { certSpec.extendedKeyUsage.clear(); };
  struct Case {
    const char* why;
    uint8_t serial;
    std::function<void(pki::CertSpec&)> shape;
    std::string list;
    bool accepted;
  };
  const Case kCases[] = {
      {"second entry of a bare-comma list", 0x31, twoUsages, "OID 1.2.3,1.3.6.1.5.5.7.3.4", true},
      {"a blank after the comma is part of the entry", 0x32, twoUsages,
       "OID 1.2.3, 1.3.6.1.5.5.7.3.4", false},
      {"no usage in common", 0x33, twoUsages, "OID 1.2.3", false},
      {"no extended key usage at all", 0x34, noUsage, "OID 1.3.6.1.5.5.7.3.4", false},
      {"an empty list is no filter", 0x35, noUsage, "OID ", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const pki::Cert leaf = Leaf(p, c.serial, c.shape);
    const auto signature = pki::SignDetached(Bytes(kDocument), {{leaf, p.leafKey}}, {p.ca});
    const std::string answer = Check(kDocument, signature, {"CRLOFF", c.list});
    // The code's own bits select chain phrases too; the text ends with the message and the code.
    const std::string status = AnswerLine(answer, "CheckChainStatus");
    if (c.accepted) {
      EXPECT_EQ(status, "");
    } else {
      EXPECT_TRUE(status.ends_with(" " + kKeyUsageText + " (80340017)")) << status;
      EXPECT_TRUE(status.starts_with(kNotTimeValidPhrase)) << status;
    }
  }
}

TEST_F(CheckE2E, TimeInThePastJudgesTheChainThenButTheKeyPeriodNow) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const auto signature = Sign(p);
  // In 2001 neither certificate of the chain was valid yet.
  EXPECT_EQ(
      AnswerLine(Check(kDocument, signature, {"CRLOFF", "TIME 2001-05-05"}), "CheckChainStatus"),
      kNotTimeValidPhrase + " (00000001)");
  const pki::Cert young = Leaf(p, 0x41, [](pki::CertSpec&) {});
  const auto youngSignature = pki::SignDetached(Bytes(kDocument), {{young, p.leafKey}}, {p.ca});
  // The key period counts from NotBefore to the real now: one day old, so two days pass even
  // though the chain is judged in 2001.
  EXPECT_EQ(
      AnswerLine(Check(kDocument, youngSignature, {"CRLOFF", "TIME 2001-05-05", "SKLIFETIME 2"}),
                 "CheckChainStatus"),
      kNotTimeValidPhrase + " (00000001)");
}

TEST_F(CheckE2E, ArchiveAnswersWithinTheMinuteWhateverTheOptions) {
  const Pki p = MakePki(KeyKind::kGost2001);
  const auto signature = pki::SignDetached(Bytes(kDocument), {{p.leaf, p.leafKey}}, {p.ca, p.root});
  const std::string first = AnswerLine(Check(kDocument, signature), "CheckChainStatus");
  EXPECT_EQ(first, kUntrustedRootPhrase + " (00000020)");
  AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);  // trusted from now on
  EXPECT_EQ(AnswerLine(Check(kDocument, signature, {"CRLON", "SKLIFETIME 1", "OID 9.9"}),
                       "CheckChainStatus"),
            first);
  EXPECT_NE(LogText().find("TmpCertArhive FindItem found"), std::string::npos);
}

TEST_F(CheckE2E, TwoChecksOnOneConnection) {
  const Pki p = Trusted(KeyKind::kEcdsaP256);
  TestClient client = CheckClient(server->BoundPort(), kDocument, Sign(p), {"CRLOFF"});
  const std::string first = RunCheck(client);
  EXPECT_EQ(AnswerLine(first, "CheckChain"), "OK");
  EXPECT_EQ(RunCheck(client), first);
  EXPECT_EQ(client.Command("ADD TS"), "error: CAdES not supported\r\n");
  EXPECT_EQ(client.Command("QUIT"), "OK: Bye.\r\n");
  const std::string log = LogText();
  EXPECT_NE(log.find(") recv CHECK\r\n"), std::string::npos);
  // The engine's steps, in order, on one thread.
  const size_t signature = log.find("VerifySignature start");
  const size_t chain = log.find("VerifyChain start");
  const size_t cades = log.find("VerifyCades end");
  EXPECT_LT(signature, chain);
  EXPECT_LT(chain, cades);
  EXPECT_NE(cades, std::string::npos);
}

TEST_F(CheckE2E, LineBreaksInCertificateNamesBecomeBlanks) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const pki::Cert forged = Leaf(p, 0x51, [](pki::CertSpec& certSpec) {
    certSpec.subject = {{"CN", "Evil\r\nCheckChain: OK\r\n.\r\n"}};
  });
  const auto signature = pki::SignDetached(Bytes(kDocument), {{forged, p.leafKey}}, {p.ca});
  const std::string answer = Check(kDocument, signature);
  EXPECT_EQ(AnswerLine(answer, "SubjectX500"), "CN=\"Evil  CheckChain: OK  .  \"");
  EXPECT_EQ(answer.find(".\r\n"), answer.size() - 3);  // the only "." line is the last
}

TEST_F(CheckE2E, CyrillicNamesArriveInWindows1251) {
  const Pki p = Trusted(KeyKind::kGost2001);
  const pki::Cert russian = Leaf(p, 0x61, [](pki::CertSpec& certSpec) {
    certSpec.subject = {{"SN", "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd\xd0\xbe\xd0\xb2"},  // Иванов
                        {"GN", "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd"},                  // Иван
                        {"1.2.643.3.131.1.1", "007700000000"}};
  });
  const auto signature = pki::SignDetached(Bytes(kDocument), {{russian, p.leafKey}}, {p.ca});
  const std::string answer = Check(kDocument, signature);
  EXPECT_EQ(AnswerLine(answer, "SubjectName"), "\xc8\xe2\xe0\xed\xee\xe2 \xc8\xe2\xe0\xed");
  EXPECT_EQ(AnswerLine(answer, "SubjectX500"),
            "\xc8\xcd\xcd=007700000000, G=\xc8\xe2\xe0\xed, SN=\xc8\xe2\xe0\xed\xee\xe2");
}

TEST_F(CheckE2E, CertificateThatIsNotDerFailsTheImport) {
  TestClient client = CheckClient(server->BoundPort(), kDocument, Bytes("signature"));
  client.Command("CERT bm90IGEgY2VydGlmaWNhdGU=");  // "not a certificate"
  const std::string answer = RunCheck(client);
  EXPECT_EQ(answer.substr(0, answer.find("CheckChainStatus")),
            "CheckSignature: FAIL\r\n"
            "CheckSignatureStatus: Error import cert " +
                kBadTagText +
                " (8009310b)\r\n"
                "FindCertificate: FAIL\r\n"
                "FindCertificateStatus: ffffffff\r\n"
                "CheckChain: FAIL\r\n");
  EXPECT_NE(LogText().find("\tCertCreateCertificateContext (8009310b)\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tests
