#include "server/check_request.h"

#include "platform/cp1251.h"
#include "platform/log.h"
#include "platform/thread_id.h"
#include "report/html_report.h"
#include "report/status_texts.h"
#include "server/retrieval.h"
#include "server/texts.h"
#include "server/upload_service.h"
#include "verify/crypto.h"
#include "verify/hash_client.h"

namespace server {
namespace {

int ThreadId() { return static_cast<int>(platform::GetCurrentThreadId()); }

// CapturedAnswer keeps the error answer a step of the request sends, for the request to return.
class CapturedAnswer : public AnswerSink {
 public:
  void Send(std::string_view answer) override { text.append(answer); }
  std::string text;
};

// Refused returns `answer`, a refusal, with its first line as what the info line says of it.
RequestAnswer Refused(std::string answer) {
  std::string summary = answer.substr(0, answer.find_first_of("\r\n"));
  return {std::move(answer), std::move(summary)};
}
RequestAnswer Refused(CapturedAnswer& sink) { return Refused(std::move(sink.text)); }

}  // namespace

std::string HashedXmlToUtf8(const std::string& cp1251) {
  return platform::Cp1251ToUtf8(std::string_view(cp1251).substr(0, cp1251.find('\0')));
}

std::string AnswerValue(std::string value) {
  value.resize(std::min(value.size(), value.find('\0')));
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return value;
}

RequestAnswer RequestPipeline::Check(std::string_view commandLine,
                                     const ConnectionSettings& settings, ConnectionData& data) {
  CapturedAnswer sink;
  platform::Log(texts::kLogRecv, ThreadId(), std::string(commandLine).c_str());
  auto engine = std::make_unique<verify::CCrypto>(archive);
  engine->oidList = settings.oidList;
  engine->keyLifetimeDays = settings.keyLifetimeDays;

  // The upload service's copy of the document lives as long as this request.
  std::unique_ptr<platform::RequestFile> uploaded;
  if (!settings.uploadService.empty() &&
      (!FetchUploadSignature(settings.uploadService, data.signatureText, sink) ||
       !FetchUploadDocument(settings.uploadService, data.documentText, sink, &uploaded))) {
    return Refused(sink);
  }
  const bool resolved =
      ResolveDocument(data.documentText, settings, limits, uploaded.get(), *engine, sink);
  uploaded.reset();  // read or hashed: the engine reads through a descriptor of its own
  if (!resolved) return Refused(sink);
  engine->SetSignature(data.signatureText, true);
  engine->SetVerifyTime(settings.verifyTime);
  engine->SetCheckRevocation(settings.checkRevocation);
  engine->SetFindCertificate(settings.findCertificate);
  engine->SetHtmlReport(settings.htmlReport);
  engine->SetCertificate(data.certificateText, true);
  if (data.hashedXmlGiven) {
    engine->SetXmlMode(true);
    engine->SetHashedXml(HashedXmlToUtf8(data.hashedXmlText), settings.decodeBase64);
  }

  verify::VerifyResult result;
  platform::Log(texts::kLogCheckStart, ThreadId());
  engine->Verify(result);
  platform::Log(texts::kLogCheckEnd, ThreadId());

  const std::string subject = AnswerValue(engine->GetName(false, false));
  const std::string subjectX500 = AnswerValue(engine->GetName(false, true));
  const std::string issuer = AnswerValue(engine->GetName(true, false));
  const std::string issuerX500 = AnswerValue(engine->GetName(true, true));
  const std::string subjectName = AnswerValue(engine->GetSubjectName());
  const std::string serialNumber = engine->GetSerialNumber();
  // The status rows are made whether or not there is a page to put them in.
  const std::string page =
      report::WithStatusRows(engine->Report(), report::StatusTableHtml(result));

  std::string answer = platform::FormatText(
      texts::kCheckStatusFormat, result.signatureOk ? "OK" : "FAIL",
      report::SignatureStatusText(result).c_str(), result.certificateFound ? "OK" : "FAIL",
      report::CertificateStatusText(result).c_str(), result.chainStatus == 0 ? "OK" : "FAIL",
      report::ChainStatusText(result).c_str());
  answer += platform::FormatText(texts::kCheckNamesFormat, subjectName.c_str(), subject.c_str(),
                                 subjectX500.c_str(), issuer.c_str(), issuerX500.c_str());
  if (!serialNumber.empty()) {
    answer += platform::FormatText(texts::kCheckSerialFormat, serialNumber.c_str());
  }
  answer += page;
  answer += texts::kAnswerEnd;
  std::string summary =
      platform::FormatText(texts::kLogCheckSummaryFormat, result.signatureOk ? "OK" : "FAIL",
                           result.signatureStatus, result.certificateFound ? "OK" : "FAIL",
                           result.certificateStatus, result.chainStatus == 0 ? "OK" : "FAIL",
                           result.chainStatus, subjectX500.empty() ? "none" : subjectX500.c_str());
  return {std::move(answer), std::move(summary)};
}

RequestAnswer RequestPipeline::AddTimestamp(const ConnectionSettings& settings,
                                            ConnectionData& data) {
  verify::CCrypto engine(archive);
  CapturedAnswer sink;
  if (!settings.uploadService.empty() &&
      !FetchUploadSignature(settings.uploadService, data.signatureText, sink)) {
    return Refused(sink);
  }
  engine.SetSignature(data.signatureText, true);
  return Refused(engine.AddTimestamp());
}

std::string RequestPipeline::GetHash(const std::string& reference, const std::string& hashServer) {
  return verify::GetHash(reference, hashServer);
}

}  // namespace server
