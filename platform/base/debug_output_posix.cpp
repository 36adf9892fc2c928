#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <variant>

#include "platform/base/cp1251.h"
#include "platform/base/debug_output.h"
#include "platform/base/mutex.h"

namespace platform {
namespace {

// The channel's descriptor: standard error until a file or descriptor is set, never closed
// afterwards; a reopened file takes its number with dup2, so a writer always finds an open one.
std::atomic<int> channel{STDERR_FILENO};
Mutex pathMutex;
std::string channelPath GUARDED_BY(pathMutex);  // empty unless the channel is a file

bool ChannelIsUtf8() {
  static const bool utf8 = CodesetIsUtf8("");
  return utf8;
}

// OpenRegularFile opens `path` for appending, or says why not.
std::variant<int, std::string> OpenRegularFile(const std::string& path) {
  const int fd =
      ::open(path.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
  if (fd < 0) {
    // ELOOP: the last part is a link; ENXIO: a FIFO without a reader or a socket.
    if (errno == ELOOP || errno == ENXIO) return std::string("not a regular file");
    return std::string(std::strerror(errno));
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::string("not a regular file");
  }
  ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
  return fd;
}

}  // namespace

bool DebugChannelIsStandardError() { return channel.load() == STDERR_FILENO; }

std::string OpenDebugChannelFile(const std::string& path) {
  std::variant<int, std::string> opened = OpenRegularFile(path);
  if (const std::string* refusal = std::get_if<std::string>(&opened)) return *refusal;
  const int fd = std::get<int>(opened);
  const MutexLock lock(pathMutex);
  const int old = channel.load();
  if (old == STDERR_FILENO) {
    channel = fd;
  } else {
    ::dup2(fd, old);
    ::close(fd);
  }
  channelPath = path;
  return {};
}

std::string ReopenDebugChannelFile() {
  std::string path;
  {
    const MutexLock lock(pathMutex);
    path = channelPath;
  }
  return path.empty() ? std::string() : OpenDebugChannelFile(path);
}

void UseDebugChannelDescriptor(int fd) {
  const MutexLock lock(pathMutex);
  channel = fd;
  channelPath.clear();
}

bool CodesetIsUtf8(const char* localeName) {
  // The process's own locale stays "C" (answers format times and numbers in it); the codeset of
  // the locale the environment asks for is read from a locale object of its own.
  const locale_t locale = newlocale(LC_CTYPE_MASK, localeName, static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return false;
  const char* codeset = nl_langinfo_l(CODESET, locale);
  const bool utf8 =
      codeset != nullptr && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
  freelocale(locale);
  return utf8;
}

std::string ChannelText(std::string text) { return ChannelIsUtf8() ? Cp1251ToUtf8(text) : text; }

namespace {

void WriteAll(int fd, std::string_view bytes) {
  const int savedErrno = errno;
  // One write normally takes everything; a write cut short by a signal is finished.
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  errno = savedErrno;
}

}  // namespace

void WriteStandardError(std::string_view bytes) { WriteAll(STDERR_FILENO, bytes); }

void WriteDebugChannel(std::string_view bytes) { WriteAll(channel.load(), bytes); }

}  // namespace platform
