#include "server/session.h"

#include "platform/base/log.h"
#include "server/server_texts.h"

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

}  // namespace server
