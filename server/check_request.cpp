#include "server/check_request.h"

#include <algorithm>

#include "platform/base/base64.h"
#include "platform/base/cp1251.h"
#include "platform/base/log.h"
#include "platform/base/thread_id.h"
#include "platform/base/win_time.h"
#include "report/html_report.h"
#include "report/status_texts.h"
#include "server/refusal.h"
#include "server/retrieval.h"
#include "server/server_texts.h"
#include "server/upload_service.h"
#include "verify/crypto.h"
#include "verify/hash_client.h"

namespace server {
namespace {

using platform::ThreadId;

// Refused returns `answer`, a refusal, with its first line as what the info line says of it.
RequestAnswer Refused(std::string answer) {
  std::string summary = answer.substr(0, answer.find_first_of("\r\n"));
  return {std::move(answer), std::move(summary)};
}

// Decoded blocks up to this size are kept with the connection for the CHECKs that follow; larger
// ones are decoded each time rather than held twice.
constexpr size_t kKeptDecodedBytes = 64 * 1024;

// Decoded returns `text` Base64-decoded when `base64`, else as bytes, taking it from `kept` when
// an earlier CHECK over the same blocks made it, and keeping it there when it is small.
std::vector<uint8_t> Decoded(std::optional<std::vector<uint8_t>>& kept, const std::string& text,
                             bool base64) {
  if (kept) return *kept;
  std::vector<uint8_t> bytes =
      base64 ? platform::Base64Decode(text) : std::vector<uint8_t>(text.begin(), text.end());
  if (text.size() <= kKeptDecodedBytes) kept = bytes;
  return bytes;
}

// KeptDecoded returns what the connection keeps of its blocks' decoded forms, emptied first when
// the blocks or the document's decoding changed since it was made.
DecodedBlocks& KeptDecoded(ConnectionData& data, bool documentBase64) {
  DecodedBlocks& kept = data.decoded;
  if (kept.revision != data.revision || kept.documentBase64 != documentBase64) {
    kept = DecodedBlocks{};
    kept.revision = data.revision;
    kept.documentBase64 = documentBase64;
  }
  return kept;
}

// MakeCheckRequest gathers what the engine needs from the connection's blocks and settings and
// the resolved document.
verify::CheckRequest MakeCheckRequest(const ConnectionSettings& settings, ConnectionData& data,
                                      ResolvedDocument document) {
  DecodedBlocks& kept = KeptDecoded(data, settings.decodeBase64);
  verify::CheckRequest request;
  request.document = std::move(document.bytes);
  request.documentFile = std::move(document.file);
  request.documentFileSize = document.fileSize;
  request.signature = Decoded(kept.signature, data.signatureText, true);
  if (!data.certificateText.empty()) {
    request.certificate = Decoded(kept.certificate, data.certificateText, true);
  }
  if (data.hashedXmlGiven) {
    const std::string fragment = HashedXmlToUtf8(data.hashedXmlText);
    request.hashedXml = settings.decodeBase64
                            ? platform::Base64Decode(fragment)
                            : std::vector<uint8_t>(fragment.begin(), fragment.end());
    request.xmlMode = true;
  }
  request.findCertificate = settings.findCertificate;
  request.checkRevocation = settings.checkRevocation;
  // A time whose year is 0 leaves the engine's own: now.
  if (settings.verifyTime.year != 0) {
    request.verifyTime = platform::SystemTimeToFileTime(settings.verifyTime).value_or(0);
  }
  request.keyLifetimeDays = settings.keyLifetimeDays;
  request.oidList = settings.oidList;
  return request;
}

// CheckAnswer is the whole answer of a verification: six status lines, five name lines, the
// serial number when there is a signer, the report line `page` and ".".
std::string CheckAnswer(const verify::VerifyResult& result, const std::string& page) {
  constexpr size_t kLinesRoom = 1024;  // the lines hold names of a few hundred bytes at most
  const verify::SignerNames& names = result.names;
  std::string answer;
  answer.reserve(kLinesRoom + page.size());
  platform::AppendFormat(
      answer, texts::kCheckStatusFormat, result.signatureOk ? "OK" : "FAIL",
      report::SignatureStatusText(result).c_str(), result.certificateFound ? "OK" : "FAIL",
      report::CertificateStatusText(result).c_str(), result.chainStatus == 0 ? "OK" : "FAIL",
      report::ChainStatusText(result).c_str());
  platform::AppendFormat(answer, texts::kCheckNamesFormat, AnswerValue(names.subjectName).c_str(),
                         AnswerValue(names.subject).c_str(), AnswerValue(names.subjectX500).c_str(),
                         AnswerValue(names.issuer).c_str(), AnswerValue(names.issuerX500).c_str());
  if (!names.serialNumber.empty()) {
    platform::AppendFormat(answer, texts::kCheckSerialFormat, names.serialNumber.c_str());
  }
  answer += page;
  answer += texts::kAnswerEnd;
  return answer;
}

}  // namespace

std::string CheckSummary(const verify::VerifyResult& result) {
  const std::string signer = AnswerValue(result.names.subjectX500);
  return platform::FormatText(texts::kLogCheckSummaryFormat, result.signatureOk ? "OK" : "FAIL",
                              result.signatureStatus, result.certificateFound ? "OK" : "FAIL",
                              result.certificateStatus, result.chainStatus == 0 ? "OK" : "FAIL",
                              result.chainStatus, signer.empty() ? "none" : signer.c_str());
}

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

verify::EngineContext RequestPipeline::EngineFor(const ClientGone& clientGone) const {
  verify::EngineContext requestEngine = engine;
  requestEngine.clientGone = clientGone;
  return requestEngine;
}

RequestAnswer RequestPipeline::Check(std::string_view commandLine,
                                     const ConnectionSettings& settings, ConnectionData& data,
                                     const ClientGone& clientGone) {
  platform::Log(texts::kLogRecv, ThreadId(), std::string(commandLine).c_str());
  const verify::EngineContext requestEngine = EngineFor(clientGone);
  // 1. The upload service's signature and document; its copy of the document lives as long as
  //    the resolution needs it.
  std::unique_ptr<platform::RequestFile> uploaded;
  if (!settings.uploadService.empty()) {
    if (std::optional<Refusal> refused =
            FetchUploadSignature(settings.uploadService, data.signatureText)) {
      return Refused(std::move(refused->answer));
    }
    ++data.revision;  // the service's texts take the names' places
    auto fetched = FetchUploadDocument(settings.uploadService, data.documentText);
    if (Refusal* refused = std::get_if<Refusal>(&fetched))
      return Refused(std::move(refused->answer));
    uploaded = std::move(std::get<0>(fetched));
  }
  // 2. The document: the text itself (decoded once for the CHECKs over the same blocks), or
  //    what it names.
  StepResult<ResolvedDocument> resolved;
  if (uploaded == nullptr && !IsDocumentReference(data.documentText)) {
    ResolvedDocument text;
    text.bytes = Decoded(KeptDecoded(data, settings.decodeBase64).document, data.documentText,
                         settings.decodeBase64);
    resolved = std::move(text);
  } else {
    // A signed text canonicalized as XML is parsed in memory, so it has a smaller limit of its
    // own; any other document is read in pieces.
    Limits documentLimits = limits;
    verify::EngineContext documentEngine = requestEngine;
    if (!data.certificateText.empty() && data.hashedXmlGiven) {
      const uint64_t xmlBytes = std::min(limits.engine.maxDocumentBytes, limits.maxXmlDocumentBytes);
      documentLimits.engine.maxDocumentBytes = xmlBytes;
      documentEngine.limits.maxDocumentBytes = xmlBytes;
    }
    resolved = ResolveDocument(data.documentText, settings, documentLimits, documentEngine,
                               uploaded.get());
    ++data.revision;  // the reference may have become the resolved text
  }
  uploaded.reset();  // read or hashed: the engine reads through a descriptor of its own
  if (Refusal* refused = std::get_if<Refusal>(&resolved))
    return Refused(std::move(refused->answer));
  // 3. The request record, 4. the verification.
  // What the engine decodes counts with what the connection holds, within its limit and the
  // server's.
  const size_t held = HeldBytes(data);
  HeldAllowance allowance(budget, limits.maxHeldBytes > held ? limits.maxHeldBytes - held : 0);
  verify::CheckRequest request =
      MakeCheckRequest(settings, data, std::move(std::get<ResolvedDocument>(resolved)));
  request.allowance = &allowance;
  platform::Log(texts::kLogCheckStart, ThreadId());
  const verify::VerifyResult result =
      verify::CCrypto(std::move(request), archive, requestEngine).Verify();
  platform::Log(texts::kLogCheckEnd, ThreadId());
  // 5. The page and the answer.
  return {CheckAnswer(result, settings.htmlReport ? report::RenderReport(result) : ""),
          CheckSummary(result),
          CheckVerdicts{result.signatureOk, result.certificateFound, result.chainStatus == 0,
                        result.signatureStatus, result.certificateStatus, result.chainStatus}};
}

RequestAnswer RequestPipeline::AddTimestamp(const ConnectionSettings& settings,
                                            ConnectionData& data) {
  if (!settings.uploadService.empty()) {
    if (std::optional<Refusal> refused =
            FetchUploadSignature(settings.uploadService, data.signatureText)) {
      return Refused(std::move(refused->answer));
    }
  }
  return Refused(verify::AddTimestampAnswer());
}

std::string RequestPipeline::GetHash(const std::string& reference, const std::string& hashServer,
                                     const ClientGone& clientGone) {
  return verify::GetHash(reference, hashServer, EngineFor(clientGone));
}

}  // namespace server
