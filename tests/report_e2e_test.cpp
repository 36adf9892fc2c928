// End-to-end tests of the HTML report: the "HTML: " line of the CHECK answer, its exact bytes and
// its structure as an HTML parser reads it.

#include <gtest/gtest.h>
#include <iconv.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <openssl/x509.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/base/hex.h"
#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"
#include "tests/report_texts.h"

namespace tests {
namespace {

namespace t = report_texts;
using pki::KeyKind;
using platform::StoreLocation;

constexpr std::string_view kDocument = "report me";

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string SpacedHex(std::span<const uint8_t> bytes) {
  return platform::HexText(bytes, platform::HexCase::kUpper, false, true);
}

// Utf8Of decodes Windows-1251 with the C library's iconv.
std::string Utf8Of(const std::string& cp1251) {
  iconv_t converter = iconv_open("UTF-8", "WINDOWS-1251");
  std::string in = cp1251;
  std::string out(in.size() * 3 + 1, '\0');
  char* inPointer = in.data();
  char* outPointer = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
  iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

class ReportE2E : public ::testing::Test {
 protected:
  void SetUp() override { server = StartServer(8); }

  std::string Check(const pki::Cert& leaf, const pki::Key& key, const std::vector<pki::Cert>& extra,
                    std::string_view document, const std::vector<std::string>& settings) {
    const auto signature = pki::SignDetached(Bytes(kDocument), {{leaf, key}}, extra);
    TestClient client = CheckClient(server->BoundPort(), document, signature, settings);
    return RunCheck(client);
  }

  // HtmlLine returns the page of the answer's "HTML: " line, or "<none>".
  static std::string Page(const std::string& answer) {
    const size_t start = answer.find("\r\nHTML: ");
    if (start == std::string::npos) return "<none>";
    const size_t end = answer.find("\r\n", start + 2);
    return answer.substr(start + 8, end - start - 8);
  }

  std::unique_ptr<server::TCPServer> server;
};

TEST_F(ReportE2E, StatusRowsForTheThreeCases) {
  const Pki p = MakePki(KeyKind::kGost2001);
  AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);
  const std::string rowsStart = std::string("<td align=\"justify\" valign=\"Top\">");
  const auto slots = [&](const std::string& page) {
    std::vector<std::string> texts;
    for (size_t at = page.find(rowsStart); at != std::string::npos;
         at = page.find(rowsStart, at + 1)) {
      const size_t start = at + rowsStart.size();
      texts.push_back(page.substr(start, page.find("</td>", start) - start));
    }
    return texts;
  };
  // A good signature with a trusted chain.
  EXPECT_EQ(
      slots(Page(Check(p.leaf, p.leafKey, {p.ca}, kDocument, {"CRLOFF", "HTMLON"}))),
      (std::vector<std::string>{t::kSignatureValid, t::kSignatureValid, t::kCertificateValid}));
  // A failed signature with a trusted chain.
  EXPECT_EQ(slots(Page(Check(p.leaf, p.leafKey, {p.ca}, "changed", {"CRLOFF", "HTMLON"}))),
            (std::vector<std::string>{t::kSomeChecksFailed, kHashValueText + " (80091007)",
                                      t::kCertificateValid}));
  // A good signature whose root is not trusted.
  const Pki q = MakePki(KeyKind::kEcdsaP256);
  EXPECT_EQ(slots(Page(Check(q.leaf, q.leafKey, {q.ca, q.root}, kDocument, {"CRLOFF", "HTMLON"}))),
            (std::vector<std::string>{t::kSomeChecksFailed, t::kSignatureValid,
                                      kUntrustedRootPhrase + " (00000020)"}));
}

TEST_F(ReportE2E, NoLineWithTheReportOffOrWithoutACertificate) {
  const Pki p = MakePki(KeyKind::kGost2001);
  EXPECT_EQ(Page(Check(p.leaf, p.leafKey, {p.ca}, kDocument, {"CRLOFF"})), "<none>");
  EXPECT_EQ(Page(Check(p.leaf, p.leafKey, {p.ca}, kDocument, {"CRLOFF", "HTMLON", "HTMLOFF"})),
            "<none>");
  TestClient client = CheckClient(server->BoundPort(), kDocument, Bytes("garbage"), {"HTMLON"});
  const std::string answer = RunCheck(client);
  EXPECT_EQ(Page(answer), "<none>");
  EXPECT_TRUE(answer.ends_with("IssuerX500: \r\n.\r\n"));
}

TEST_F(ReportE2E, CertificateTextCannotInjectMarkup) {
  const Pki p = MakePki(KeyKind::kGost2001);
  pki::CertSpec certSpec = LeafSpec();
  certSpec.subject = {{"O", "A&B"}, {"CN", "<script>alert(1)</script>"}};
  certSpec.serial = {0x44};
  const pki::Cert leaf = pki::Issue(certSpec, p.leafKey, &p.ca, p.caKey);
  const std::string page = Page(Check(leaf, p.leafKey, {p.ca}, kDocument, {"CRLOFF", "HTMLON"}));
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_NE(page.find(std::string(t::kSubject) +
                      "CN=&quot;&lt;script&gt;alert(1)&lt;/script&gt;&quot;, O=A&amp;B</p>"),
            std::string::npos)
      << page;
}

TEST_F(ReportE2E, CertificateLineBreaksStayInsideTheReportLine) {
  const Pki p = MakePki(KeyKind::kGost2001);
  pki::CertSpec certSpec = LeafSpec();
  certSpec.subject = {{"C", "RU"}, {"CN", "Evil\r\n.\r\nCheckSignature: OK"}};
  certSpec.serial = {0x45};
  // The owner's signing tool (1.2.643.100.111) as a UTF8String "Tool\r\nLine".
  certSpec.extra = {
      {"1.2.643.100.111", false, {0x0C, 0x0A, 'T', 'o', 'o', 'l', '\r', '\n', 'L', 'i', 'n', 'e'}}};
  const pki::Cert leaf = pki::Issue(certSpec, p.leafKey, &p.ca, p.caKey);
  const std::string answer = Check(leaf, p.leafKey, {p.ca}, kDocument, {"CRLOFF", "HTMLON"});

  // The page runs from "HTML: " to the one CR LF before the closing "." line.
  const size_t html = answer.find("\r\nHTML: ");
  ASSERT_NE(html, std::string::npos) << answer;
  ASSERT_TRUE(answer.ends_with("\r\n.\r\n"));
  const std::string page = answer.substr(html + 8, answer.size() - html - 8 - 5);
  EXPECT_EQ(page.find_first_of("\r\n"), std::string::npos) << page;
  EXPECT_EQ(answer.find("\r\n.\r\n"), answer.size() - 5);
  EXPECT_EQ(answer.find("\nCheckSignature: OK"), std::string::npos);
  EXPECT_NE(page.find(std::string(t::kSubject) +
                      "CN=&quot;Evil&#13;&#10;.&#13;&#10;CheckSignature: OK&quot;, C=RU</p>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<td>Tool&#13;&#10;Line</td>"), std::string::npos) << page;
}

TEST_F(ReportE2E, PageBytesAndStructure) {
  const Pki p = MakePki(KeyKind::kGost2001);
  AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);
  pki::CertSpec certSpec;
  certSpec.subject = {{"C", "RU"}, {"CN", "Report"}};
  certSpec.serial = {0x00, 0x9A, 0x01};
  certSpec.notBefore = 1764547200;  // 2025-12-01 00:00:00 UTC
  certSpec.notAfter = 1893456000;   // 2030-01-01 00:00:00 UTC
  certSpec.noExtensions = true;
  const pki::Cert leaf = pki::Issue(certSpec, p.leafKey, &p.ca, p.caKey);
  const std::string answer = Check(leaf, p.leafKey, {p.ca}, kDocument, {"CRLOFF", "HTMLON"});

  // The public key and the signature as OpenSSL reads them from the certificate.
  const ASN1_BIT_STRING* keyBits = X509_get0_pubkey_bitstr(leaf.get());
  const std::string keyHex =
      SpacedHex({ASN1_STRING_get0_data(keyBits), static_cast<size_t>(ASN1_STRING_length(keyBits))});
  // The signature is shown as CryptoAPI decodes it: the encoded bytes last to first.
  const ASN1_BIT_STRING* signatureBits = nullptr;
  X509_get0_signature(&signatureBits, nullptr, leaf.get());
  const unsigned char* signatureBytes = ASN1_STRING_get0_data(signatureBits);
  const std::vector<unsigned char> reversedSignature(
      std::make_reverse_iterator(signatureBytes + ASN1_STRING_length(signatureBits)),
      std::make_reverse_iterator(signatureBytes));
  const std::string signatureHex = SpacedHex(reversedSignature);
  const std::string gost2001 = "\xc3\xce\xd1\xd2 \xd0 34.10-2001";  // ГОСТ Р 34.10-2001
  const std::string gost2001Sign =
      "\xc3\xce\xd1\xd2 \xd0 34.11/34.10-2001";  // ГОСТ Р 34.11/34.10-2001
  const std::string cell = "<td align=\"justify\" valign=\"Top\">";
  const std::string expected =
      std::string(
          "<html xmlns:msxsl=\"urn:schemas-microsoft-com:xslt\" "
          "xmlns:fo=\"http://www.w3.org/1999/XSL/Format\"><center><b>") +
      t::kSignatures + "</b></center><table><tr><td colspan=\"2\"><b>" + t::kSignatureParameters +
      "</b></td></tr><tr><td valign=\"top\">" + t::kStatus +
      "</td><td><table><tr><td align=\"left\" valign=\"Top\">" + t::kOverallRow + "</td>" + cell +
      t::kSignatureValid + "</td></tr><tr><td align=\"left\" valign=\"Top\">" + t::kMathRow +
      "</td>" + cell + t::kSignatureValid + "</td></tr><tr><td align=\"left\" valign=\"Top\">" +
      t::kCertificateRow + "</td>" + cell + t::kCertificateValid +
      "</td></tr></table></td></tr><tr><td colspan=\"2\">" + t::kSignerCertificate +
      "</td></tr><tr><td colspan=\"2\"><table><tr><td width=\"20\"></td><td><p>" +
      t::kCertificateInfo + "</p>" + t::kCertificateParameters +
      "<table class=\"Cert_params\"><tr><td width=\"20\"></td><td><p>" + t::kVersion + "3</p><p>" +
      t::kSerial + "009A01</p><p>" + t::kIssuer + "CN=Test CA, O=Org, C=RU</p><p>" + t::kValidFrom +
      "2025-12-01 00:00:00 UTC<br />" + t::kValidTo + "2030-01-01 00:00:00 UTC</p><p>" +
      t::kSubject + "CN=Report, C=RU</p>" + t::kPublicKey +
      "<table><tr><td width=\"20\"></td><td><p>" + t::kKeyAlgorithm + "1.2.643.2.2.19 (" +
      gost2001 + ")</p><p>" + t::kKeyValue + keyHex + " (" + t::kUnusedBits +
      "0)</p></td></tr></table><p>" + t::kExtensions +
      "</p></td></tr></table></td></tr></table></td></tr>"
      "<table class=\"Cert_params\"><tr><td width=\"20\"></td><td><p>" +
      t::kSignatureAlgorithm + "1.2.643.2.2.3 (" + gost2001Sign + ")</p><p>" + t::kSignatureValue +
      signatureHex + " (" + t::kUnusedBits + "0)</p></td></tr></table><br /></table></html>";
  EXPECT_EQ(Page(answer), expected);
  // One line: the page holds no line break, the line ends with the one CR LF before ".".
  EXPECT_TRUE(answer.ends_with("\r\nHTML: " + expected + "\r\n.\r\n"));
  EXPECT_EQ(expected.find_first_of("\r\n"), std::string::npos);

  // The page as an HTML parser reads it, decoded from Windows-1251.
  const std::string utf8 = Utf8Of(Page(answer));
  htmlDocPtr document = htmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                                       HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
  ASSERT_NE(document, nullptr);
  xmlNodePtr root = xmlDocGetRootElement(document);
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(root->name), "html");
  int tables = 0, certificateTables = 0, cells = 0;
  std::string text;
  const std::function<void(xmlNodePtr)> walk = [&](xmlNodePtr node) {
    for (; node != nullptr; node = node->next) {
      if (node->type == XML_ELEMENT_NODE) {
        const std::string name = reinterpret_cast<const char*>(node->name);
        tables += name == "table";
        cells += name == "td";
        xmlChar* cls = xmlGetProp(node, reinterpret_cast<const xmlChar*>("class"));
        if (cls != nullptr) {
          certificateTables += std::string(reinterpret_cast<const char*>(cls)) == "Cert_params";
          xmlFree(cls);
        }
      } else if (node->type == XML_TEXT_NODE) {
        text += reinterpret_cast<const char*>(node->content);
      }
      walk(node->children);
    }
  };
  walk(root);
  xmlFreeDoc(document);
  EXPECT_EQ(tables, 6);  // outer, status rows, signer frame, information, key, signature
  EXPECT_EQ(certificateTables, 2);
  EXPECT_GE(cells, 14);
  EXPECT_NE(text.find("\xd0\x9f\xd0\xbe\xd0\xb4\xd0\xbf\xd0\xb8\xd1\x81\xd1\x8c \xd0\xb2\xd0\xb5"
                      "\xd1\x80\xd0\xbd\xd0\xb0"),  // "Подпись верна" in UTF-8
            std::string::npos);
  EXPECT_NE(text.find("CN=Report, C=RU"), std::string::npos);
}

}  // namespace
}  // namespace tests
