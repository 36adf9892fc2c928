#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/base/cp1251.h"
#include "platform/base/debug_output.h"

namespace platform {
namespace {

int OpenChannel() {
  if (DebugChannelIsStandardError()) return STDERR_FILENO;
  const char* path = std::getenv("QUILMAREND_LOG");
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return fd >= 0 ? fd : STDERR_FILENO;
}

// Both are fixed at the first use, like the system's channel and code page.
int Channel() {
  static const int channel = OpenChannel();  // never closed
  return channel;
}

bool ChannelIsUtf8() {
  static const bool utf8 = CodesetIsUtf8("");
  return utf8;
}

}  // namespace

bool DebugChannelIsStandardError() {
  const char* path = std::getenv("QUILMAREND_LOG");
  return path == nullptr || *path == '\0';
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

void WriteDebugChannel(std::string_view bytes) { WriteAll(Channel(), bytes); }

}  // namespace platform
