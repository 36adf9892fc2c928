#include "server/upload_service.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/base/file_reference.h"
#include "platform/base/last_error.h"
#include "platform/base/log.h"
#include "platform/base/mutex.h"
#include "platform/base/thread_id.h"
#include "platform/base/unique_fd.h"
#include "platform/base/win_status.h"
#include "platform/os/dyn_lib.h"
#include "platform/os/file_io.h"
#include "server/server_texts.h"

namespace server {
namespace {

using GetFileFunction = const char* (*)(const char* service, const char* name);

constexpr const char* kLibraryName = "libvantorix.so";
constexpr std::string_view kServiceError = "Error:";
constexpr uint64_t kMaxSignatureBytes = 0x100000;

using platform::ThreadId;

// The library loader's process-wide state. A failed load leaves `loaded` false, so the next call
// tries again; once loaded, the library stays for the life of the process (the object is never
// destroyed, since workers may still call GetFile while the process exits).
struct Loader {
  platform::Mutex mutex;
  bool loaded GUARDED_BY(mutex) = false;
  std::unique_ptr<platform::DynamicLibrary> library GUARDED_BY(mutex);
  GetFileFunction getFile GUARDED_BY(mutex) = nullptr;
};

Loader& TheLoader() {
  static Loader& loader = *new Loader;
  return loader;
}

// LoadGetFile loads the library beside the program, else from the library search path, and
// returns whether it is loaded; `*getFile` is its GetFile, null when the library lacks it.
bool LoadGetFile(GetFileFunction* getFile) {
  Loader& loader = TheLoader();
  const platform::MutexLock lock(loader.mutex);
  if (!loader.loaded) {
    std::string error;
    loader.library =
        platform::DynamicLibrary::Load(platform::ProgramDirectory() + "/" + kLibraryName, &error);
    if (loader.library == nullptr) {
      loader.library = platform::DynamicLibrary::LoadFromSearchPath(kLibraryName, &error);
    }
    if (loader.library == nullptr) return false;
    loader.getFile = reinterpret_cast<GetFileFunction>(loader.library->Symbol("GetFile"));
    loader.loaded = true;
  }
  *getFile = loader.getFile;
  return true;
}

// ErrorAnswer turns the service's "Error:" text into the client's answer: "e" for its first byte,
// white space trimmed from both ends, CR LF appended.
std::string ErrorAnswer(std::string text) {
  text[0] = 'e';
  constexpr const char* kWhiteSpace = " \t\r\n\v\f";
  text.erase(text.find_last_not_of(kWhiteSpace) + 1);
  text.erase(0, text.find_first_not_of(kWhiteSpace));
  return text + "\r\n";
}

// ReadSignatureFile replaces `signatureText` with the content of the open file `fd` up to its first
// NUL byte, when the file holds at most kMaxSignatureBytes; a larger or unreadable file leaves it.
void ReadSignatureFile(int fd, std::string& signatureText) {
  const std::optional<uint64_t> size = platform::FileSize(fd);
  if (!size || *size > kMaxSignatureBytes) return;
  const std::optional<std::vector<uint8_t>> bytes = platform::ReadWhole(fd);
  if (!bytes) return;
  std::string content(bytes->begin(), bytes->end());
  content.resize(std::min(content.size(), content.find('\0')));
  signatureText = std::move(content);
}

}  // namespace

std::string CallGetFile(const std::string& service, const std::string& name) {
  GetFileFunction getFile = nullptr;
  if (!LoadGetFile(&getFile)) {
    return platform::FormatText(texts::kUploadLibraryLoadFailedFormat, platform::GetLastError());
  }
  if (getFile == nullptr) return texts::kUploadUnexpected;
  const char* answer = getFile(service.c_str(), name.c_str());
  return answer != nullptr ? answer : "";
}

std::optional<Refusal> FetchUploadSignature(const std::string& service,
                                            std::string& signatureText) {
  const bool namesSignature =
      (signatureText.size() > 10 && signatureText.ends_with(".sig")) || signatureText.size() == 36;
  if (!namesSignature) return std::nullopt;
  if (!platform::IsOneLine(service) || !platform::IsOneLine(signatureText)) {
    return Refusal{texts::kCouldNotOpenInetFile};
  }
  platform::Log(texts::kLogUploadRequest, ThreadId(), service.c_str(), signatureText.c_str());
  const std::string answer = CallGetFile(service, signatureText);
  platform::Log(texts::kLogUploadAnswer, ThreadId(), answer.c_str());
  if (answer.starts_with(kServiceError)) {
    Refusal refusal{ErrorAnswer(answer)};
    platform::Log("%s", refusal.answer.c_str());
    return refusal;
  }
  platform::Log(texts::kLogUploadLoaded, ThreadId(), signatureText.c_str());
  platform::UniqueFd fd = platform::OpenForReading(answer);
  if (!fd) {
    Refusal refusal{
        platform::FormatText(texts::kUploadSignatureOpenFailedFormat, platform::GetLastError())};
    platform::Log("%s", refusal.answer.c_str());
    return refusal;
  }
  const platform::RequestFile copy(answer);  // deleted once read, whatever its size
  ReadSignatureFile(fd.get(), signatureText);
  return std::nullopt;
}

StepResult<std::unique_ptr<platform::RequestFile>> FetchUploadDocument(const std::string& service,
                                                                       std::string& documentText) {
  if (!platform::IsOneLine(service) || !platform::IsOneLine(documentText)) {
    return Refusal{texts::kCouldNotOpenInetFile};
  }
  const std::string answer = CallGetFile(service, documentText);
  if (answer.starts_with(kServiceError)) return Refusal{ErrorAnswer(answer)};
  // A "tempfile:///" reference names the absolute path that follows its third slash.
  documentText = "tempfile:///" + (answer.starts_with('/') ? answer.substr(1) : answer);
  return std::make_unique<platform::RequestFile>(answer);
}

}  // namespace server
