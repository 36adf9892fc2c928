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

// Leaf returns a signer certificate of `p`'s CA with serial `serial`, shaped by `shape`.
pki::Cert Leaf(const Pki& p, uint8_t serial, const std::function<void(pki::CertSpec&)>& shape) {
  pki::CertSpec certSpec = LeafSpec();
  certSpec.serial = {serial};
  shape(certSpec);
  return pki::Issue(certSpec, p.leafKey, &p.ca, p.caKey);
}

TEST_F(CheckE2E, TwoChecksOnOneConnection) {
  const Pki p = Trusted(KeyKind::kEcdsaP256);
  TestClient client = CheckClient(server->BoundPort(), kDocument, Sign(p), {"CRLOFF"});
  const std::string first = RunCheck(client);
  EXPECT_EQ(AnswerLine(first, "CheckChain"), "OK");
  EXPECT_EQ(RunCheck(client), first);
  // What a CHECK decoded is not taken for the next one once the blocks or their decoding change.
  client.Command("B64OFF");
  EXPECT_EQ(AnswerLine(RunCheck(client), "CheckSignature"), "FAIL");
  client.Command("B64ON");
  EXPECT_EQ(RunCheck(client), first);
  client.SendBlock("STRS", Base64Lines(std::vector<uint8_t>{'x'}));
  EXPECT_EQ(AnswerLine(RunCheck(client), "CheckSignature"), "FAIL");
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

// Verdicts is the answer's three verdicts, "OK" or "FAIL" each, joined by blanks.
std::string Verdicts(const std::string& answer) {
  return AnswerLine(answer, "CheckSignature") + " " + AnswerLine(answer, "FindCertificate") + " " +
         AnswerLine(answer, "CheckChain");
}

// A certificate with the signer's names, issuer and serial number but another key, signed by
// nobody, gets none of the signer's verdicts, and does not spoil them: the chain results of the
// one are not the other's, before or after.
TEST_F(CheckE2E, ForgedSignerGetsNoneOfTheSignersVerdicts) {
  const Pki p = Trusted(KeyKind::kEcdsaP256);
  const pki::Key forgedKey = pki::CachedKey(KeyKind::kEcdsaP256, 7);
  const pki::Cert forged = pki::Issue(LeafSpec(), forgedKey, &p.ca, forgedKey);
  const auto fake = pki::SignDetached(Bytes("another"), {{forged, forgedKey}}, {p.ca});
  EXPECT_EQ(Verdicts(Check("another", fake)), "OK FAIL FAIL");
  EXPECT_EQ(Verdicts(Check(kDocument, Sign(p))), "OK OK OK");
  const std::string answer = Check("another", fake);
  EXPECT_EQ(Verdicts(answer), "OK FAIL FAIL");
  EXPECT_EQ(AnswerLine(answer, "SubjectSN"), "00A1B2");
}

// A chain judged at a TIME within an expired signer's validity is not the verdict of today.
TEST_F(CheckE2E, ChainJudgedAtAnotherTimeIsJudgedAgainToday) {
  const int64_t now = std::time(nullptr);
  const Pki p = Trusted(KeyKind::kEcdsaP256);
  const pki::Cert expired = Leaf(p, 0x71, [now](pki::CertSpec& certSpec) {
    certSpec.notBefore = now - 9 * 86400;
    certSpec.notAfter = now - 86400;
  });
  const auto signature = pki::SignDetached(Bytes(kDocument), {{expired, p.leafKey}}, {p.ca});
  const std::time_t then = now - 5 * 86400;
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", std::gmtime(&then));
  EXPECT_EQ(AnswerLine(Check(kDocument, signature, {"CRLOFF", std::string("TIME ") + date}),
                       "CheckChain"),
            "OK");
  EXPECT_EQ(AnswerLine(Check(kDocument, signature), "CheckChainStatus"),
            kNotTimeValidPhrase + " (00000001)");
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

}  // namespace
}  // namespace tests
