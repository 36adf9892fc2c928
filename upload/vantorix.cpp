// libvantorix.so: a folder-backed upload service. GetFile(service, name) serves the file `name`
// from $QUILMAREND_HOME/upload/<service>/ (the state root as the server finds it): it copies the
// file into a new file in the system temporary folder and returns that file's path, which the
// caller reads and deletes. Any failure returns a text beginning with "Error:". Only GetFile is
// exported.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/base/unique_fd.h"
#include "platform/os/client_file.h"
#include "platform/os/state_root.h"

namespace {

// The answer of the thread's last call; it stays valid until the thread calls again.
thread_local std::string answer;

const char* Answer(std::string text) {
  answer = std::move(text);
  return answer.c_str();
}

// IsPlainName is true for a name that stays inside its folder: not empty, not "." or "..", no
// separator of either system, no "..".
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name.find_first_of("/\\") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

std::string TempDirectory() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

bool CopyAll(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

const char* ServeFile(const char* service, const char* name) {
  if (service == nullptr || !IsPlainName(service)) return Answer("Error: unknown upload service");
  if (name == nullptr || *name == '\0') return Answer("Error: no file name given");
  if (!IsPlainName(name)) return Answer("Error: the file name leaves the service's folder");
  // The service's folder may be a link the administrator made; a name inside it may not be one,
  // nor a FIFO, device or folder.
  const std::string folder = platform::StateRoot() + "/upload/" + service;
  const platform::UniqueFd folderFd(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folderFd) return Answer("Error: unknown upload service");
  const platform::UniqueFd source = platform::OpenRegularFileAt(folderFd.get(), name, true);
  if (!source) return Answer("Error: file not found in the upload service");
  std::string path = TempDirectory() + "/vantorix-XXXXXX";
  platform::UniqueFd copy(mkostemp(path.data(), O_CLOEXEC));
  if (!copy) return Answer("Error: could not create a temporary file");
  if (!CopyAll(source.get(), copy.get())) {
    unlink(path.c_str());
    return Answer("Error: could not copy the file");
  }
  return Answer(std::move(path));
}

}  // namespace

// GetFile returns the path of a new temporary file holding `name` from the upload service
// `service`, or a text beginning with "Error:". The text belongs to the calling thread and lives
// until its next call; the caller only reads it.
extern "C" __attribute__((visibility("default"))) const char* GetFile(const char* service,
                                                                      const char* name) {
  try {
    return ServeFile(service, name);
  } catch (...) {  // nothing may unwind into the caller, which is not C++
    return "Error: the upload service ran out of memory";
  }
}
