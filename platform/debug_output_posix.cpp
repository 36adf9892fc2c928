#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/debug_output.h"

namespace platform {
namespace {

int OpenChannel() {
  const char* path = std::getenv("QUILMAREND_LOG");
  if (path == nullptr || *path == '\0') return STDERR_FILENO;
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return fd >= 0 ? fd : STDERR_FILENO;
}

}  // namespace

void OutputDebugStringA(std::string_view text) {
  // Opened once for the life of the process, like the system's channel; never closed.
  static const int channel = OpenChannel();
  const int savedErrno = errno;
  const char* data = text.data();
  size_t left = text.size();
  // One write normally takes the whole line; a write cut short by a signal is finished.
  while (left > 0) {
    const ssize_t written = ::write(channel, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    data += written;
    left -= static_cast<size_t>(written);
  }
  errno = savedErrno;
}

}  // namespace platform
