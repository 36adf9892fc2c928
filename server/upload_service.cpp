#include "server/upload_service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "platform/dyn_lib.h"
#include "platform/last_error.h"
#include "platform/log.h"
#include "platform/thread_id.h"
#include "platform/unique_fd.h"
#include "platform/win_status.h"
#include "server/texts.h"

namespace server {
namespace {

using GetFileFunction = const char* (*)(const char* service, const char* name);

constexpr const char* kLibraryName = "libvantorix.so";
constexpr std::string_view kServiceError = "Error:";
constexpr off_t kMaxSignatureBytes = 0x100000;

int ThreadId() { return static_cast<int>(platform::GetCurrentThreadId()); }

// The library loader's process-wide state. A failed load leaves `loaded` false, so the next call
// tries again; once loaded, the library stays for the life of the process (the object is never
// destroyed, since workers may still call GetFile while the process exits).
struct Loader {
  std::mutex mutex;
  bool loaded = false;
  std::unique_ptr<platform::DynamicLibrary> library;
  GetFileFunction getFile = nullptr;
};

Loader& TheLoader() {
  static Loader& loader = *new Loader;
  return loader;
}

// LoadGetFile loads the library beside the program, else from the library search path, and
// returns whether it is loaded; `*getFile` is its GetFile, null when the library lacks it.
bool LoadGetFile(GetFileFunction* getFile) {
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.mutex);
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

// OpenFailureStatus is the code CreateFile leaves for a file that open(2) refused with `error`.
uint32_t OpenFailureStatus(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
      return platform::ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return platform::ERROR_ACCESS_DENIED;
    case ENOMEM:
      return platform::ERROR_NOT_ENOUGH_MEMORY;
    default:
      return platform::ERROR_READ_FAULT;
  }
}

// ReadSignatureFile replaces `signatureText` with the content of the open file `fd` up to its first
// NUL byte, when the file holds at most kMaxSignatureBytes; a larger or unreadable file leaves it.
void ReadSignatureFile(int fd, std::string& signatureText) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || status.st_size > kMaxSignatureBytes) return;
  std::string content(static_cast<size_t>(status.st_size), '\0');
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t got = read(fd, content.data() + done, content.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  content.resize(std::min(done, content.find('\0')));
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

bool FetchUploadSignature(const std::string& service, std::string& signatureText,
                          AnswerSink& sink) {
  const bool namesSignature =
      (signatureText.size() > 10 && signatureText.ends_with(".sig")) || signatureText.size() == 36;
  if (!namesSignature) return true;
  platform::Log(texts::kLogUploadRequest, ThreadId(), service.c_str(), signatureText.c_str());
  const std::string answer = CallGetFile(service, signatureText);
  platform::Log(texts::kLogUploadAnswer, ThreadId(), answer.c_str());
  if (answer.starts_with(kServiceError)) {
    const std::string error = ErrorAnswer(answer);
    sink.Send(error);
    platform::Log("%s", error.c_str());
    return false;
  }
  platform::Log(texts::kLogUploadLoaded, ThreadId(), signatureText.c_str());
  platform::UniqueFd fd(open(answer.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    platform::SetLastError(OpenFailureStatus(errno));
    const std::string error =
        platform::FormatText(texts::kUploadSignatureOpenFailedFormat, platform::GetLastError());
    sink.Send(error);
    platform::Log("%s", error.c_str());
    return false;
  }
  ReadSignatureFile(fd.get(), signatureText);
  fd.reset();
  unlink(answer.c_str());
  return true;
}

bool FetchUploadDocument(const std::string& service, std::string& documentText, AnswerSink& sink) {
  const std::string answer = CallGetFile(service, documentText);
  if (answer.starts_with(kServiceError)) {
    sink.Send(ErrorAnswer(answer));
    return false;
  }
  // A "tempfile:///" reference names the absolute path that follows its third slash.
  documentText = "tempfile:///" + (answer.starts_with('/') ? answer.substr(1) : answer);
  return true;
}

}  // namespace server
