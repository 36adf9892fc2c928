#include "report/detail_blocks.h"

#include <ctime>

#include "platform/base/hex.h"
#include "platform/base/log.h"
#include "platform/base/win_time.h"
#include "platform/crypto/cert_name.h"
#include "platform/crypto/ext_format.h"
#include "platform/crypto/oid_info.h"
#include "platform/crypto/signed_content.h"
#include "report/report_texts.h"

namespace report {
namespace {

using platform::FormatText;

// The calendar range the time text covers: 1900-01-01 to 3000-12-31 23:59:59 UTC.
constexpr int64_t kFirstSecond = -2208988800;
constexpr int64_t kLastSecond = 32535215999;

}  // namespace

std::string NameText(std::span<const uint8_t> name) {
  return platform::CertNameToStrA(
      name, platform::CERT_X500_NAME_STR | platform::CERT_NAME_STR_REVERSE_FLAG);
}

std::string OidName(std::string_view oid) { return platform::OidFriendlyName(oid); }

std::string ExtensionValueText(std::string_view oid, std::span<const uint8_t> value) {
  return platform::FormatExtensionValue(oid, value);
}

std::string UtcTimeText(uint64_t fileTime) {
  const int64_t seconds = platform::FileTimeToUnixSeconds(fileTime);
  if (seconds < kFirstSecond || seconds > kLastSecond) return {};
  const time_t moment = static_cast<time_t>(seconds);
  std::tm broken{};
  if (gmtime_r(&moment, &broken) == nullptr) return {};
  char text[128];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &broken);
  return std::string(text, length);
}

std::string HtmlEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      // A line break would end the answer line that carries the page.
      case '\r':
        escaped += "&#13;";
        break;
      case '\n':
        escaped += "&#10;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string CertificateInfoHtml(const platform::CertInfo* info) {
  if (info == nullptr) return {};
  const platform::CertPublicKeyInfo& key = info->subjectPublicKeyInfo;
  std::string html = texts::kCertificateInfoStart;
  html += FormatText(texts::kVersionFormat, static_cast<int>(info->version + 1));
  html += FormatText(texts::kSerialNumberFormat,
                     platform::SerialNumberText(info->serialNumber).c_str());
  html += FormatText(texts::kIssuerFormat, HtmlEscaped(NameText(info->issuer)).c_str());
  html += FormatText(texts::kValidityFormat, UtcTimeText(info->notBefore).c_str(),
                     UtcTimeText(info->notAfter).c_str());
  html += FormatText(texts::kSubjectFormat, HtmlEscaped(NameText(info->subject)).c_str());
  html += FormatText(texts::kPublicKeyFormat, key.algorithmOid.c_str(),
                     HtmlEscaped(OidName(key.algorithmOid)).c_str(),
                     platform::HexText(key.key, platform::HexCase::kUpper, false, true).c_str(),
                     static_cast<int>(key.unusedBits));
  html += texts::kExtensionsStart;
  for (const platform::CertExtension& extension : info->extensions) {
    html += texts::kExtensionStart;
    html += extension.oid;
    const std::string name = OidName(extension.oid);
    if (!name.empty()) html += FormatText(texts::kExtensionNameFormat, HtmlEscaped(name).c_str());
    if (extension.critical) html += texts::kExtensionCritical;
    html += FormatText(texts::kExtensionValueFormat,
                       HtmlEscaped(ExtensionValueText(extension.oid, extension.value)).c_str());
    html += texts::kExtensionEnd;
  }
  html += texts::kExtensionsEnd;
  html += texts::kCertificateInfoEnd;
  return html;
}

std::string SignerCertificateHtml(const platform::CertInfo& info) {
  return texts::kSignerCertificateStart + CertificateInfoHtml(&info) + texts::kSignerCertificateEnd;
}

std::string CertificateSignatureHtml(std::span<const uint8_t> encoded) {
  std::string inner;
  if (const std::optional<platform::SignedContentInfo> content =
          platform::DecodeCertSignedContent(encoded)) {
    inner = FormatText(
        texts::kSignatureInnerFormat, content->signatureAlgorithmOid.c_str(),
        HtmlEscaped(OidName(content->signatureAlgorithmOid)).c_str(),
        platform::HexText(content->signature, platform::HexCase::kUpper, false, true).c_str(),
        static_cast<int>(content->unusedBits));
  }
  return FormatText(texts::kSignatureBlockFormat, inner.c_str());
}

}  // namespace report
