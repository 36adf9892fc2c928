#include "server/retrieval.h"

#include <algorithm>
#include <array>

#include "platform/file_io.h"
#include "platform/file_reference.h"
#include "platform/inet.h"
#include "platform/last_error.h"
#include "platform/log.h"
#include "platform/thread_id.h"
#include "server/texts.h"
#include "verify/crypto.h"
#include "verify/hash_client.h"

namespace server {
namespace {

constexpr std::array<std::string_view, 5> kReferenceSchemes = {"http://", "https://", "ftp://",
                                                               "file://", "tempfile:///"};
constexpr std::string_view kOldMarker = "?old=1";
constexpr std::string_view kTempFileScheme = "tempfile:///";

// Downloads: 1024-byte transfer units, no document over 2 GiB, 10 s to connect, and a peer that
// sends less than one byte per second for 30 s is given up.
constexpr size_t kTransferUnit = 1024;
constexpr uint64_t kMaxDocumentBytes = 0x80000000;
constexpr int kDownloadConnectTimeoutMs = 10000;
constexpr long kDownloadLowSpeedBytesPerSecond = 1;
constexpr long kDownloadLowSpeedSeconds = 30;
// The temporary folder's path must fit the system's path buffer.
constexpr size_t kMaxTempFolderLength = 256;

int ThreadId() { return static_cast<int>(platform::GetCurrentThreadId()); }

void RemoveAll(std::string& text, std::string_view marker) {
  for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
    text.erase(at, marker.size());
  }
}

// Download fetches `url` into a temporary file and moves it to the temporary name + "!", which
// it returns in `name` (also when the download failed: the text later requests see). False when
// anything failed; the temporary file is gone then.
bool Download(const std::string& url, std::string& name) {
  std::unique_ptr<platform::TemporaryFile> file =
      platform::TemporaryFile::Create("TFR", kMaxTempFolderLength);
  if (!file) return false;
  platform::InternetRequest request;
  request.url = url;
  request.agent = "Quilmarend";
  request.chunkSize = kTransferUnit;
  request.maxBytes = kMaxDocumentBytes;  // stops the transfer as soon as it is passed
  request.connectTimeoutMs = kDownloadConnectTimeoutMs;
  request.lowSpeedBytesPerSecond = kDownloadLowSpeedBytesPerSecond;
  request.lowSpeedTimeSeconds = kDownloadLowSpeedSeconds;
  const bool downloaded = platform::InternetStream(
      request, [&file](std::span<const uint8_t> piece) { return file->Write(piece); });
  name = file->Path() + "!";
  return downloaded && file->MoveTo(name);
}

}  // namespace

bool IsDocumentReference(std::string_view text) {
  return std::any_of(kReferenceSchemes.begin(), kReferenceSchemes.end(),
                     [text](std::string_view scheme) { return text.starts_with(scheme); });
}

bool ResolveDocument(std::string& documentText, const ConnectionSettings& settings,
                     verify::CCrypto& engine, AnswerSink& sink) {
  if (!IsDocumentReference(documentText)) {
    engine.SetText(documentText, settings.decodeBase64);
    return true;
  }
  platform::Log(texts::kLogFileRequest, ThreadId(), documentText.c_str());
  // A reference is one line: a line break would carry commands to a hash server, and a NUL byte
  // would cut the reference short where it is passed on.
  if (!platform::IsOneLine(documentText)) {
    sink.Send(texts::kCouldNotOpenInetFile);
    return false;
  }

  if (!settings.hashServer.empty() && documentText.find(kOldMarker) == std::string::npos) {
    const std::string hash = verify::GetHash(documentText, settings.hashServer);
    const uint32_t status = platform::GetLastError();
    platform::Log(texts::kLogFileHash, ThreadId(), hash.c_str());
    if (hash.empty()) {
      sink.Send(platform::FormatText(texts::kHashServerFailedFormat, status));
      return false;
    }
    documentText = hash;
    engine.SetText(documentText, settings.decodeBase64);
    return true;
  }

  RemoveAll(documentText, kOldMarker);
  const bool download =
      !platform::IsFileReference(documentText) && !documentText.starts_with(kTempFileScheme);
  const bool temporary = documentText.starts_with(kTempFileScheme);
  if (platform::IsFileReference(documentText)) {
    documentText = platform::ToLinuxPath(documentText, platform::UncRoot());
  } else if (temporary) {
    documentText.erase(0, kTempFileScheme.size() - 1);  // keep the path's first slash
    std::replace(documentText.begin(), documentText.end(), '\\', '/');
  }
  platform::Log(texts::kLogResolved, ThreadId(), documentText.c_str(), download ? 1 : 0);

  bool ok = true;
  if (download) ok = Download(std::string(documentText), documentText);
  const size_t cut = documentText.find_first_of("#?", 1);
  if (cut != std::string::npos) documentText.resize(cut);

  // A "tempfile:" reference is read, and deleted, only inside the system temporary folder and
  // only if its entry still names the file that was read: a client must not make the server
  // delete a file of its choice, even by renaming folders while the request runs.
  std::optional<platform::FileBeneath> delivered;
  platform::UniqueFd file;
  if (ok && temporary) {
    delivered = platform::OpenInTempDirectory(documentText);
    if (delivered) file = std::move(delivered->fd);
  } else if (ok) {
    file = platform::OpenForReading(documentText);
  }
  if (!file) {
    sink.Send(texts::kCouldNotOpenInetFile);
    return false;
  }
  const std::optional<uint64_t> size = platform::FileSize(file.get());
  ok = size && *size <= kMaxDocumentBytes;
  const uint32_t status = platform::GetLastError();
  if (ok) engine.SetTextFile(std::move(file), *size);
  // Removing the name leaves the open file readable by the engine until it closes it.
  if (delivered) {
    (void)platform::DeleteOpenedFile(*delivered);
  } else if (download) {
    (void)platform::DeleteFile(documentText);
  }
  if (!ok) {
    sink.Send(platform::FormatText(texts::kFileSizeRefusedFormat, status));
    return false;
  }
  return true;
}

}  // namespace server
