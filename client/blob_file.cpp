#include "client/blob_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>

#include "platform/base/unique_fd.h"

namespace client {
namespace {

constexpr size_t kReadPiece = size_t{1} << 20;

bool IsBase64Text(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
  });
}

// DecodeBase64 decodes `text` with OpenSSL's decoder, which skips line breaks and blanks.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
  std::string compact;
  std::copy_if(text.begin(), text.end(), std::back_inserter(compact),
               [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; });
  if (compact.empty()) return std::nullopt;
  const std::unique_ptr<EVP_ENCODE_CTX, decltype(&EVP_ENCODE_CTX_free)> context(
      EVP_ENCODE_CTX_new(), EVP_ENCODE_CTX_free);
  if (!context) return std::nullopt;
  EVP_DecodeInit(context.get());
  std::vector<uint8_t> bytes(compact.size() / 4 * 3 + 3);
  int written = 0, last = 0;
  if (EVP_DecodeUpdate(context.get(), bytes.data(), &written,
                       reinterpret_cast<const unsigned char*>(compact.data()),
                       static_cast<int>(compact.size())) < 0 ||
      EVP_DecodeFinal(context.get(), bytes.data() + written, &last) != 1) {
    return std::nullopt;
  }
  bytes.resize(static_cast<size_t>(written + last));
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<std::vector<uint8_t>> DecodeBlob(std::string_view content) {
  const size_t begin = content.find("-----BEGIN ");
  if (begin != std::string_view::npos) {
    const size_t body = content.find('\n', begin);
    const size_t end = content.find("-----END ", begin);
    if (body == std::string_view::npos || end == std::string_view::npos || end < body) {
      return std::nullopt;
    }
    return DecodeBase64(content.substr(body + 1, end - body - 1));
  }
  if (IsBase64Text(content)) return DecodeBase64(content);
  return std::vector<uint8_t>(content.begin(), content.end());
}

std::optional<std::string> ReadInputFile(const std::string& path, uint64_t maxBytes,
                                         std::string& error) {
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  int reason = fd ? 0 : errno;
  std::string content;
  // Read past `maxBytes` by one piece at most: a pipe tells its size only by ending.
  for (bool ended = false; reason == 0 && !ended && content.size() <= maxBytes;) {
    const size_t at = content.size();
    content.resize(at + kReadPiece);
    const ssize_t got = ::read(fd.get(), content.data() + at, kReadPiece);
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

std::optional<std::vector<uint8_t>> ReadBlobFile(const std::string& path, uint64_t maxBytes,
                                                 std::string& error) {
  const std::optional<std::string> content = ReadInputFile(path, maxBytes, error);
  if (!content) return std::nullopt;
  if (content->empty()) {
    error = path + ": the file is empty";
    return std::nullopt;
  }
  std::optional<std::vector<uint8_t>> bytes = DecodeBlob(*content);
  if (!bytes) error = path + ": the PEM or Base64 text does not decode";
  return bytes;
}

std::string Base64Lines(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve((bytes.size() + kBase64LineBytes - 1) / kBase64LineBytes * 78);
  unsigned char line[80];
  for (size_t at = 0; at < bytes.size(); at += kBase64LineBytes) {
    const size_t count = std::min(kBase64LineBytes, bytes.size() - at);
    const int length = EVP_EncodeBlock(line, bytes.data() + at, static_cast<int>(count));
    text.append(reinterpret_cast<const char*>(line), static_cast<size_t>(length));
    text += "\r\n";
  }
  return text;
}

}  // namespace client
