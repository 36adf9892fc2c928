#include "api/check_answer.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/base/cp1251.h"
#include "platform/base/win_time.h"
#include "report/html_report.h"
#include "report/status_texts.h"

namespace api {
namespace {

using Json = nlohmann::ordered_json;

// Text is a Windows-1251 text in UTF-8 (ASCII passes as it is), or null when it is empty.
Json Text(const std::string& cp1251) {
  return cp1251.empty() ? Json(nullptr) : Json(platform::Cp1251ToUtf8(cp1251));
}

Json Check(bool ok, uint32_t status, const std::string& text) {
  char code[9];
  std::snprintf(code, sizeof code, "%08x", status);
  return Json{{"ok", ok}, {"status", code}, {"text", platform::Cp1251ToUtf8(text)}};
}

Json Signer(const verify::VerifyResult& result) {
  if (result.signer == nullptr) return nullptr;
  const verify::SignerNames& names = result.names;
  const platform::CertInfo& info = result.signer->Info();
  return Json{{"subjectName", Text(names.subjectName)},
              {"subject", Text(names.subject)},
              {"subjectX500", Text(names.subjectX500)},
              {"issuer", Text(names.issuer)},
              {"issuerX500", Text(names.issuerX500)},
              {"serial", Text(names.serialNumber)},
              {"notBefore", Text(Rfc3339Utc(info.notBefore))},
              {"notAfter", Text(Rfc3339Utc(info.notAfter))},
              {"keyAlgorithm", Text(info.subjectPublicKeyInfo.algorithmOid)}};
}

// ReportPage is the page of the report line "HTML: " + page + CR LF, in UTF-8; null without one.
Json ReportPage(const verify::VerifyResult& result) {
  std::string line = report::RenderReport(result);
  constexpr std::string_view kStart = "HTML: ", kEnd = "\r\n";
  if (!line.starts_with(kStart) || !line.ends_with(kEnd)) return nullptr;
  return platform::Cp1251ToUtf8(
      std::string_view(line).substr(kStart.size(), line.size() - kStart.size() - kEnd.size()));
}

}  // namespace

std::string Rfc3339Utc(uint64_t fileTime) {
  const time_t seconds = static_cast<time_t>(platform::FileTimeToUnixSeconds(fileTime));
  tm calendar{};
  char text[32];
  if (gmtime_r(&seconds, &calendar) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &calendar) == 0) {
    return {};
  }
  return text;
}

std::string CheckAnswerJson(const verify::VerifyResult& result, bool withReport) {
  Json answer;
  answer["schema"] = kAnswerSchema;
  answer["valid"] = result.signatureOk && result.certificateFound && result.chainStatus == 0;
  answer["signature"] =
      Check(result.signatureOk, result.signatureStatus, report::SignatureStatusText(result));
  answer["certificate"] = Check(result.certificateFound, result.certificateStatus,
                                report::CertificateStatusText(result));
  answer["chain"] =
      Check(result.chainStatus == 0, result.chainStatus, report::ChainStatusText(result));
  answer["chain"]["reasons"] = report::ChainTrustBitNames(result.chainStatus);
  answer["signer"] = Signer(result);
  answer["report"] = withReport ? ReportPage(result) : Json(nullptr);
  return answer.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace api
