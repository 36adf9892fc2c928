#include "server/retrieval.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include "platform/base/base64.h"
#include "platform/base/file_reference.h"
#include "platform/base/last_error.h"
#include "platform/base/log.h"
#include "platform/base/names.h"
#include "platform/base/thread_id.h"
#include "platform/base/win_status.h"
#include "platform/os/file_io.h"
#include "platform/os/inet.h"
#include "server/server_texts.h"
#include "verify/hash_client.h"
#include "verify/providers.h"

namespace server {
namespace {

constexpr std::array<std::string_view, 5> kReferenceSchemes = {"http://", "https://", "ftp://",
                                                               "file://", "tempfile:///"};
constexpr std::string_view kOldMarker = "?old=1";
constexpr std::string_view kTempFileScheme = "tempfile:///";

// Downloads come in 1024-byte transfer units.
constexpr size_t kTransferUnit = 1024;
// The temporary folder's path must fit the system's path buffer.
constexpr size_t kMaxTempFolderLength = 256;

using platform::ThreadId;

void RemoveAll(std::string& text, std::string_view marker) {
  for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
    text.erase(at, marker.size());
  }
}

enum class Downloaded { kDone, kFailed, kTooLarge };

// Download fetches `url` through `internet` within `limits` into a temporary file ("TFR..." in the
// system temporary folder), made only once the URL has answered with its first bytes, and moves
// it to its name + "!". The file is `*file` on success, owned by the caller; on failure no file is
// left.
Downloaded Download(const std::string& url, const Limits& limits, platform::Internet& internet,
                    const std::function<bool()>& clientGone,
                    std::unique_ptr<platform::TemporaryFile>* file) {
  const uint64_t maxBytes = limits.engine.maxDocumentBytes;
  platform::InternetRequest request;
  request.url = url;
  request.agent = platform::kProgramName;
  request.chunkSize = kTransferUnit;
  limits.download.ApplyTo(request);
  request.abandoned = clientGone;
  uint64_t received = 0;
  bool tooLarge = false;
  const auto write = [&](std::span<const uint8_t> piece) {
    received += piece.size();
    tooLarge = received > maxBytes;  // stops the transfer as soon as the limit is passed
    if (!tooLarge && *file == nullptr) {
      *file = platform::TemporaryFile::Create("TFR", kMaxTempFolderLength);
    }
    return !tooLarge && *file != nullptr && (*file)->Write(piece);
  };
  const bool downloaded = internet.Stream(request, write);
  // An empty document arrives without a byte to write.
  if (downloaded && *file == nullptr) {
    *file = platform::TemporaryFile::Create("TFR", kMaxTempFolderLength);
  }
  if (downloaded && *file != nullptr && (*file)->MoveTo((*file)->Path() + "!")) {
    return Downloaded::kDone;
  }
  platform::Log(texts::kLogDownloadFailed, ThreadId(), platform::GetLastError());
  file->reset();
  return tooLarge ? Downloaded::kTooLarge : Downloaded::kFailed;
}

// SizeRefused is the answer to a document over the size limit.
Refusal SizeRefused(uint32_t status) {
  return Refusal{platform::FormatText(texts::kFileSizeRefusedFormat, status)};
}

// Text is the document that the text itself is: its bytes, Base64-decoded when asked.
ResolvedDocument Text(std::string_view text, bool decode) {
  ResolvedDocument document;
  document.bytes =
      decode ? platform::Base64Decode(text) : std::vector<uint8_t>(text.begin(), text.end());
  return document;
}

// HashUploadedCopy takes the hash path for a document an upload service delivered as a local
// file: only this process can read it, so only the setting "localhost" can hash it.
std::string HashUploadedCopy(const platform::RequestFile& copy, const std::string& hashServer,
                             uint64_t maxBytes) {
  if (hashServer != "localhost") {
    platform::SetLastError(platform::ERROR_NOT_SUPPORTED);
    return {};
  }
  return verify::HashLocalFile(copy.Path(), maxBytes);
}

}  // namespace

bool IsDocumentReference(std::string_view text) {
  return std::any_of(kReferenceSchemes.begin(), kReferenceSchemes.end(),
                     [text](std::string_view scheme) { return text.starts_with(scheme); });
}

StepResult<ResolvedDocument> ResolveDocument(std::string& documentText,
                                             const ConnectionSettings& settings,
                                             const Limits& limits,
                                             const verify::EngineContext& engine,
                                             const platform::RequestFile* uploaded) {
  if (!IsDocumentReference(documentText)) return Text(documentText, settings.decodeBase64);
  platform::Log(texts::kLogFileRequest, ThreadId(), documentText.c_str());
  // A reference is one line: a line break would carry commands to a hash server, and a NUL byte
  // would cut the reference short where it is passed on.
  if (!platform::IsOneLine(documentText)) return Refusal{texts::kCouldNotOpenInetFile};

  if (!settings.hashServer.empty() && documentText.find(kOldMarker) == std::string::npos) {
    const std::string hash =
        uploaded != nullptr
            ? HashUploadedCopy(*uploaded, settings.hashServer, engine.limits.maxDocumentBytes)
            : verify::GetHash(documentText, settings.hashServer, engine);
    const uint32_t status = platform::GetLastError();
    platform::Log(texts::kLogFileHash, ThreadId(), hash.c_str());
    // A document too large to hash here gets the answer of a document too large to read.
    if (hash.empty() && status == platform::ERROR_FILE_TOO_LARGE) {
      return SizeRefused(platform::ERROR_SUCCESS);
    }
    if (hash.empty()) return Refusal{platform::FormatText(texts::kHashServerFailedFormat, status)};
    documentText = hash;
    return Text(documentText, settings.decodeBase64);
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

  // A failed download leaves the reference in place, so that the next CHECK tries again.
  std::unique_ptr<platform::TemporaryFile> downloadedFile;
  if (download) {
    const Downloaded result =
        Download(documentText, limits, *engine.internet, engine.clientGone, &downloadedFile);
    if (result == Downloaded::kTooLarge) return SizeRefused(platform::ERROR_SUCCESS);
    if (result == Downloaded::kFailed) return Refusal{texts::kCouldNotOpenInetFile};
    documentText = downloadedFile->Path();
  } else if (uploaded == nullptr) {
    const size_t cut = documentText.find_first_of("#?", 1);
    if (cut != std::string::npos) documentText.resize(cut);
  }

  // A "tempfile:" reference is read, and deleted, only inside the system temporary folder and
  // only if its entry still names the file that was read: a client must not make the server
  // delete a file of its choice, even by renaming folders while the request runs. Files of the
  // request itself (a download, an upload service's copy) are read where they are, and deleted
  // by their owners when the request ends.
  std::optional<platform::FileBeneath> delivered;
  ResolvedDocument document;
  if (temporary && uploaded == nullptr) {
    delivered = platform::OpenInTempDirectory(documentText);
    if (delivered) document.file = std::move(delivered->fd);
  } else {
    document.file = platform::OpenForReading(uploaded != nullptr ? uploaded->Path() : documentText);
  }
  if (!document.file) return Refusal{texts::kCouldNotOpenInetFile};
  const std::optional<uint64_t> size = platform::FileSize(document.file.get());
  const uint32_t status = platform::GetLastError();
  // Removing the name leaves the open file readable until the engine closes it.
  if (delivered) (void)platform::DeleteOpenedFile(*delivered);
  if (!size || *size > limits.engine.maxDocumentBytes) return SizeRefused(status);
  document.fileSize = *size;
  return document;
}

}  // namespace server
