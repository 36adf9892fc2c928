#include "report/detail_blocks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "report/html_report.h"
#include "tests/report_texts.h"

namespace report {
namespace {

namespace t = tests::report_texts;

// FileTime of a UTC calendar moment, worked out from the FILETIME definition.
uint64_t FileTimeOf(int64_t unixSeconds) {
  return static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
}

platform::CertInfo SampleInfo() {
  platform::CertInfo info;
  info.version = 2;
  info.serialNumber = {0x5A, 0x01, 0x00};  // least significant first: 00 01 5A
  // "CN=A", "CN=Z" as DER names.
  info.issuer = {0x30, 0x0c, 0x31, 0x0a, 0x30, 0x08, 0x06,
                 0x03, 0x55, 0x04, 0x03, 0x0c, 0x01, 0x41};
  info.issuer[1] = 0x0c;
  info.subject = info.issuer;
  info.subject.back() = 'Z';
  info.notBefore = FileTimeOf(1614686400);  // 2021-03-02 12:00:00 UTC
  info.notAfter = FileTimeOf(1646222400);   // 2022-03-02 12:00:00 UTC
  info.subjectPublicKeyInfo.algorithmOid = "1.2.3.4";
  info.subjectPublicKeyInfo.key = {0x04, 0x40, 0xAB};
  info.subjectPublicKeyInfo.unusedBits = 0;
  return info;
}

TEST(UtcTimeText, UtcWhateverTheZoneAndEmptyOutsideItsRange) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("TZ", "Asia/Vladivostok", 1);
  tzset();
  EXPECT_EQ(UtcTimeText(FileTimeOf(1614686400)), "2021-03-02 12:00:00");
  EXPECT_EQ(UtcTimeText(FileTimeOf(-2208988800)), "1900-01-01 00:00:00");
  EXPECT_EQ(UtcTimeText(FileTimeOf(32535215999)), "3000-12-31 23:59:59");
  EXPECT_EQ(UtcTimeText(FileTimeOf(-2208988801)), "");  // 1899
  EXPECT_EQ(UtcTimeText(FileTimeOf(32535216000)), "");  // 3001
  EXPECT_EQ(UtcTimeText(0), "");                        // 1601
  if (saved != nullptr) {
    setenv("TZ", previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(HtmlEscaped, MarkupCharacters) {
  EXPECT_EQ(HtmlEscaped("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c'");
  EXPECT_EQ(HtmlEscaped("\xc8\xe2\xe0\xed"), "\xc8\xe2\xe0\xed");
  EXPECT_EQ(HtmlEscaped("a\r\n.\r\nb\n"), "a&#13;&#10;.&#13;&#10;b&#10;");
}

TEST(CertificateInfoHtml, CertificateWithoutExtensions) {
  platform::CertInfo info = SampleInfo();
  EXPECT_EQ(CertificateInfoHtml(&info),
            std::string("<p>") + t::kCertificateInfo + "</p>" + t::kCertificateParameters +
                "<table class=\"Cert_params\"><tr><td width=\"20\"></td><td><p>" + t::kVersion +
                "3</p><p>" + t::kSerial + "00015A</p><p>" + t::kIssuer + "CN=A</p><p>" +
                t::kValidFrom + "2021-03-02 12:00:00 UTC<br />" + t::kValidTo +
                "2022-03-02 12:00:00 UTC</p><p>" + t::kSubject + "CN=Z</p>" + t::kPublicKey +
                "<table><tr><td width=\"20\"></td><td><p>" + t::kKeyAlgorithm +
                "1.2.3.4 ()</p><p>" + t::kKeyValue + "04 40 AB (" + t::kUnusedBits +
                "0)</p></td></tr></table><p>" + t::kExtensions + "</p></td></tr></table>");
  info.version = 0;
  EXPECT_NE(CertificateInfoHtml(&info).find(std::string(t::kVersion) + "1</p>"), std::string::npos);
  EXPECT_EQ(CertificateInfoHtml(nullptr), "");
}

TEST(CertificateInfoHtml, CriticalAndPlainExtensions) {
  platform::CertInfo info = SampleInfo();
  info.extensions = {
      {"2.5.29.19", true, {0x30, 0x03, 0x01, 0x01, 0xFF}},  // basic constraints, CA:TRUE
      {"1.2.3.4.5", false, {0x04, 0x02, 0xAB, 0xCD}},       // nobody knows it
  };
  const std::string html = CertificateInfoHtml(&info);
  const std::string valueCell =
      std::string(":<br />") + t::kValue + "<table><tr><td width=\"20\"></td><td>";
  EXPECT_NE(html.find(std::string("<p>2.5.29.19 (") + t::kBasicConstraints + ")" + t::kCritical +
                      valueCell + "CA:TRUE</td></tr></table></p>"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<p>1.2.3.4.5" + valueCell + "04 02 ab cd</td></tr></table></p></p>"),
            std::string::npos)
      << html;
}

TEST(CertificateInfoHtml, CertificateTextsAreEscaped) {
  platform::CertInfo info = SampleInfo();
  info.subject.back() = '<';  // CN=<
  EXPECT_NE(CertificateInfoHtml(&info).find(std::string(t::kSubject) + "CN=&quot;&lt;&quot;</p>"),
            std::string::npos);
}

TEST(CertificateSignatureHtml, UndecodableCertificateLeavesTheCellEmpty) {
  const std::vector<uint8_t> garbage = {0x30, 0x03, 0x02, 0x01, 0x00};
  EXPECT_EQ(CertificateSignatureHtml(garbage),
            "<table class=\"Cert_params\"><tr><td width=\"20\"></td><td></td></tr></table><br />");
}

TEST(StatusTableHtml, ThreeSlots) {
  verify::VerifyResult good;
  good.signatureOk = true;
  const std::string rows = StatusTableHtml(good);
  EXPECT_EQ(rows, std::string("<tr><td valign=\"top\">") + t::kStatus +
                      "</td><td><table><tr><td align=\"left\" valign=\"Top\">" + t::kOverallRow +
                      "</td><td align=\"justify\" valign=\"Top\">" + t::kSignatureValid +
                      "</td></tr><tr><td align=\"left\" valign=\"Top\">" + t::kMathRow +
                      "</td><td align=\"justify\" valign=\"Top\">" + t::kSignatureValid +
                      "</td></tr><tr><td align=\"left\" valign=\"Top\">" + t::kCertificateRow +
                      "</td><td align=\"justify\" valign=\"Top\">" + t::kCertificateValid +
                      "</td></tr></table></td></tr>");
}

}  // namespace
}  // namespace report
