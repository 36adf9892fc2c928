#include "client/blob_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/base/base64.h"
#include "platform/base/unique_fd.h"

namespace client {
namespace {

constexpr size_t kReadPiece = size_t{64} << 10;

}  // namespace

std::optional<std::string> ReadInputFile(const std::string& path, uint64_t maxBytes,
                                         std::string& error) {
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  int reason = fd ? 0 : errno;
  struct stat status {};
  // A regular file is read in one piece of its size; a pipe tells its size only by ending.
  const size_t piece = reason == 0 && fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode)
                           ? static_cast<size_t>(std::min<uint64_t>(status.st_size, maxBytes)) + 1
                           : kReadPiece;
  std::string content;
  for (bool ended = false; reason == 0 && !ended && content.size() <= maxBytes;) {
    const size_t at = content.size();
    content.resize(at + piece);
    const ssize_t got = ::read(fd.get(), content.data() + at, piece);
    if (got < 0 && errno != EINTR) reason = errno;  // a folder gives EISDIR here
    ended = got == 0;
    content.resize(at + static_cast<size_t>(std::max<ssize_t>(got, 0)));
  }
  if (reason != 0) {
    error = path + ": " + std::strerror(reason);
    return std::nullopt;
  }
  if (content.size() > maxBytes) {
    error = path + ": larger than " + std::to_string(maxBytes >> 20) + " MiB";
    return std::nullopt;
  }
  return content;
}

std::string Base64Lines(std::span<const uint8_t> bytes) {
  // The codec breaks its lines after 76 characters, which 57 bytes make, and ends none.
  std::string text = platform::Base64Encode(bytes);
  if (!text.empty()) text += "\r\n";
  return text;
}

}  // namespace client
