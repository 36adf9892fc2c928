#include "server/session.h"

#include "platform/base/log.h"
#include "server/server_texts.h"
#include "server/time_argument.h"

namespace server {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kLf = "\n";

// Allocated is the memory `text` takes beyond its own record: nothing while it fits the string's
// inner buffer.
size_t Allocated(const std::string& text) {
  return text.capacity() > std::string().capacity() ? text.capacity() : 0;
}

size_t Allocated(const std::optional<std::vector<uint8_t>>& bytes) {
  return bytes ? bytes->capacity() : 0;
}

// Replace makes `text` a new string holding `with`, so that the memory of a large old text goes
// back instead of staying with the connection (an assignment would keep its room), and marks the
// blocks changed.
void Replace(ConnectionData& data, std::string& text, std::string_view with) {
  std::string(with).swap(text);
  ++data.revision;
}

// TakePrefix is the prefix rows' match; the argument is the rest of the line as received.
bool TakePrefix(std::string_view line, std::string_view prefix, std::string_view* argument) {
  if (line.substr(0, prefix.size()) != prefix) return false;
  *argument = line.substr(prefix.size());
  return true;
}

}  // namespace

size_t Session::OpenBlockBytes() const {
  return blockMode == BlockMode::kNone ? 0 : openBlock.Size();
}

size_t Session::HeldBytes() const {
  return Allocated(data.documentText) + Allocated(data.signatureText) +
         Allocated(data.certificateText) + Allocated(data.hashedXmlText) +
         Allocated(data.decoded.document) + Allocated(data.decoded.signature) +
         Allocated(data.decoded.certificate) + openBlock.AllocatedBytes();
}

std::string* Session::BlockText() {
  switch (blockMode) {
    case BlockMode::kNone:
      return nullptr;
    case BlockMode::kStrs:
      return &data.documentText;
    case BlockMode::kSign:
      return &data.signatureText;
    case BlockMode::kCert:
      return &data.certificateText;
    case BlockMode::kHashedXml:
      return &data.hashedXmlText;
  }
  return nullptr;
}

bool Session::HandleLine(std::string_view received) {
  previousLineEnd = currentLineEnd;
  currentLineEnd = received.size() >= 2 && received[received.size() - 2] == '\r' ? kCrLf : kLf;
  std::string_view line = received;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);

  if (blockMode != BlockMode::kNone) {
    AddBlockLine(line);
    return true;
  }
  return RunCommand(line);
}

void Session::AddBlockLine(std::string_view line) {
  if (line == ".") {
    std::string& text = *BlockText();
    text = openBlock.Take();
    ++data.revision;
    const BlockMode finished = blockMode;
    blockMode = BlockMode::kNone;
    const int length = static_cast<int>(text.size());
    switch (finished) {
      case BlockMode::kStrs:
        sink.Send(texts::kStringStored);
        break;
      case BlockMode::kSign:
        sink.Send(platform::FormatText(texts::kSignatureBlockStoredFormat, length));
        break;
      case BlockMode::kCert:
        sink.Send(platform::FormatText(texts::kCertificateBlockStoredFormat, length));
        break;
      case BlockMode::kHashedXml:
        sink.Send(platform::FormatText(texts::kHashedXmlBlockStoredFormat, length));
        break;
      case BlockMode::kNone:
        break;
    }
    return;
  }
  // Lines are joined by their own endings as received; leading empty lines leave no trace.
  if (openBlock.Size() > 0) openBlock.Append(previousLineEnd);
  if (!line.empty() && line.front() == '.') line.remove_prefix(1);  // dot-unstuffing
  openBlock.Append(line);
}

void Session::Answer(const char* command, const RequestAnswer& answer,
                     std::chrono::steady_clock::time_point started) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  platform::LogAt(platform::LogLevel::kInfo, texts::kLogRequestFormat, peer.c_str(), command,
                  answer.summary.c_str(), static_cast<long long>(elapsed.count()));
  sink.Send(answer.answer);
}

bool Session::RunCommand(std::string_view line) {
  if (metrics != nullptr) metrics->CountCommand(line);
  std::string_view argument;
  ConnectionSettings& s = settings;
  if (TakePrefix(line, "STRS ", &argument)) {
    Replace(data, data.documentText, argument);
    sink.Send(texts::kStringStored);
  } else if (TakePrefix(line, "SIGN ", &argument)) {
    Replace(data, data.signatureText, argument);
    sink.Send(texts::kSignatureStored);
  } else if (line == "B64ON") {
    s.decodeBase64 = true;
    sink.Send(texts::kB64On);
  } else if (line == "B64OFF") {
    s.decodeBase64 = false;
    sink.Send(texts::kB64Off);
  } else if (line == "FINDON") {
    s.findCertificate = true;
    sink.Send(texts::kFindOn);
  } else if (line == "FINDOFF") {
    s.findCertificate = false;
    sink.Send(texts::kFindOff);
  } else if (line == "CRLON") {
    s.checkRevocation = true;
    sink.Send(texts::kCrlOn);
  } else if (line == "CRLOFF") {
    s.checkRevocation = false;
    sink.Send(texts::kCrlOff);
  } else if (line == "HTMLON") {
    s.htmlReport = true;
    sink.Send(texts::kHtmlOn);
  } else if (line == "HTMLOFF") {
    s.htmlReport = false;
    sink.Send(texts::kHtmlOff);
  } else if (TakePrefix(line, "HASHSERVER ", &argument)) {
    s.hashServer.assign(argument);
    sink.Send(texts::kHashServerEnabled);
  } else if (line == "HASHSERVER") {
    s.hashServer = "localhost";
    sink.Send(texts::kHashServerLocal);
  } else if (line == "NOHASHSERVER") {
    s.hashServer.clear();
    sink.Send(texts::kHashServerDisabled);
  } else if (TakePrefix(line, "GETHASH ", &argument)) {
    const auto started = std::chrono::steady_clock::now();
    const std::string hash = handler.GetHash(std::string(argument), s.hashServer, clientGone);
    Answer("GETHASH",
           hash.empty() ? RequestAnswer{texts::kHashFailed, "failed"}
                        : RequestAnswer{platform::FormatText(texts::kHashFormat, hash.c_str()),
                                        "digest " + hash},
           started);
  } else if (TakePrefix(line, "UPLOADSERVICE ", &argument)) {
    s.uploadService.assign(argument);
    sink.Send(argument.empty() ? texts::kUploadDisabled : texts::kUploadEnabled);
  } else if (line == "MD5ON") {
    sink.Send(texts::kMd5On);
  } else if (line == "MD5OFF") {
    sink.Send(texts::kMd5Off);
  } else if (TakePrefix(line, "OID ", &argument)) {
    s.oidList.assign(argument);
    sink.Send(texts::kOidFilter);
  } else if (TakePrefix(line, "SKLIFETIME ", &argument)) {
    s.keyLifetimeDays = ParseKeyLifetime(argument);
    sink.Send(platform::FormatText(texts::kKeyLifetimeFormat, s.keyLifetimeDays));
  } else if (TakePrefix(line, "TIME ", &argument)) {
    if (const std::optional<platform::SystemTime> time = ParseTimeArgument(argument)) {
      s.verifyTime = *time;
      sink.Send(texts::kTimeSetPrefix + TimeSetText(*time));
    } else {
      sink.Send(texts::kTimeInvalid);
    }
  } else if (line == "QUIT" || line == "EXIT") {
    sink.Send(texts::kBye);
    return false;
  } else if (line.starts_with("STRS")) {
    Replace(data, data.documentText, {});
    blockMode = BlockMode::kStrs;
    sink.Send(texts::kGettingData);
  } else if (line.starts_with("SIGN")) {
    Replace(data, data.signatureText, {});
    blockMode = BlockMode::kSign;
    sink.Send(texts::kGettingSignature);
  } else if (TakePrefix(line, "CERT ", &argument)) {
    Replace(data, data.certificateText, argument);
    sink.Send(texts::kCertificateStored);
  } else if (line.starts_with("CERT")) {
    Replace(data, data.certificateText, {});
    blockMode = BlockMode::kCert;
    sink.Send(texts::kGettingCertificate);
  } else if (TakePrefix(line, "HASHEDXML ", &argument)) {
    Replace(data, data.hashedXmlText, argument);
    data.hashedXmlGiven = true;
    sink.Send(texts::kHashedXmlStored);
  } else if (line == "HASHEDXML") {
    Replace(data, data.hashedXmlText, {});
    data.hashedXmlGiven = true;
    blockMode = BlockMode::kHashedXml;
    sink.Send(texts::kGettingHashedXml);
  } else if (line == "ADD TS") {
    const auto started = std::chrono::steady_clock::now();
    Answer("ADD TS", handler.AddTimestamp(settings, data), started);
  } else if (line == "CHECK") {
    const auto started = std::chrono::steady_clock::now();
    const RequestAnswer answer = handler.Check(line, settings, data, clientGone);
    if (metrics != nullptr) {
      metrics->CountCheck(answer.verdicts, std::chrono::steady_clock::now() - started);
    }
    Answer("CHECK", answer, started);
  } else {
    sink.Send(texts::kWhat);
  }
  return true;
}

}  // namespace server
