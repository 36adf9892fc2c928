#include "verify/hash_client.h"

#include <algorithm>
#include <cstdlib>

#include "platform/base/file_reference.h"
#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/os/socket.h"
#include "platform/os/socket_wait.h"
#include "verify/providers.h"

namespace verify {
namespace {

// A digest text is the 32 bytes of a GOST R 34.11-94 digest, two hexadecimal digits each.
constexpr size_t kDigestTextLength = 64;

// LeadingNumber reads a port the way atoi does: leading digits, 0 when there are none.
int LeadingNumber(const std::string& text) {
  long value = 0;
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min(value * 10 + (text[i] - '0'), 100000L);
  }
  return static_cast<int>(negative ? -value : value);
}

// IsDigestText is true for a whole digest in hexadecimal.
bool IsDigestText(std::string_view text) {
  return text.size() == kDigestTextLength &&
         text.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
}

}  // namespace

std::string GetHash(const std::string& reference, const std::string& hashServer,
                    const EngineContext& engine) {
  if (!platform::IsOneLine(reference)) {
    platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
    return {};
  }
  if (hashServer.empty() || hashServer == "localhost") return HashDocument(reference, engine);
  const HashServerAddress address = ParseHashServer(hashServer);
  return RequestHash(reference, address.host, address.port, engine.limits);
}

HashServerAddress ParseHashServer(const std::string& setting) {
  HashServerAddress address{setting, kHashServerPort};
  const size_t colon = setting.find(':');
  if (colon != std::string::npos && colon > 0) {
    address.port = LeadingNumber(setting.substr(colon + 1));
    address.host = setting.substr(0, colon);
  }
  if (address.port < 1 || address.port > 65535) address.port = kHashServerPort;
  return address;
}

std::string ReadReplyLine(int fd, std::chrono::steady_clock::time_point deadline) {
  std::string line;
  char buffer[4096];
  for (;;) {
    const platform::WaitResult wait = platform::WaitReadable(fd, deadline);
    if (wait == platform::WaitResult::kTimedOut) return {};
    if (wait == platform::WaitResult::kFailed) break;
    // Reading what has arrived in one piece ends where a byte-by-byte reader would: at a line
    // feed that is the last byte received so far.
    const ssize_t received = platform::Receive(fd, std::span<char>(buffer, sizeof buffer));
    if (received <= 0) break;
    line.append(buffer, static_cast<size_t>(received));
    if (line.size() > kMaxReplyLineBytes) return {};
    if (line.back() == '\n' && platform::BytesWaiting(fd) == 0) break;
  }
  while (!line.empty() && (line.back() == ' ' || (line.back() >= '\t' && line.back() <= '\r'))) {
    line.pop_back();
  }
  return line;
}

std::string RequestHash(const std::string& reference, const std::string& host, int port,
                        const EngineLimits& limits) {
  if (port < 1 || port > 65535) port = kHashServerPort;
  bool resolveFailed = false;
  uint32_t resolverCode = 0;
  platform::UniqueFd fd = platform::ConnectTcp(host, static_cast<uint16_t>(port),
                                               static_cast<int>(limits.hashServerConnect.count()),
                                               &resolveFailed, &resolverCode);
  if (!fd) {
    platform::SetLastError(resolveFailed ? resolverCode : platform::ERROR_CONNECTION_REFUSED);
    return {};
  }
  const auto deadline = std::chrono::steady_clock::now() + limits.hashServerExchange;
  platform::SetSocketTimeouts(fd.get(),
                              static_cast<int>(limits.hashServerExchange.count()));  // the sends
  if (ReadReplyLine(fd.get(), deadline).empty()) {
    platform::SetLastError(platform::ERROR_READ_FAULT);
    return {};
  }
  if (!platform::SendAll(fd.get(), "GETHASH " + reference + "\r\n")) {
    platform::SetLastError(platform::HASH_SERVER_SEND_FAILED);
    return {};
  }
  // Only the reply's first line counts, and of it only a digest: nothing else a peer sends reaches
  // the client's answer or the log.
  std::string reply = ReadReplyLine(fd.get(), deadline);
  reply.resize(std::min(reply.size(), reply.find_first_of("\r\n")));
  constexpr std::string_view kPrefix = "OK: Hash=";
  if (!reply.starts_with(kPrefix)) {
    platform::SetLastError(platform::HASH_SERVER_BAD_REPLY);
    return {};
  }
  std::string digest = reply.substr(kPrefix.size());
  if (platform::SendAll(fd.get(), "QUIT\r\n")) ReadReplyLine(fd.get(), deadline);
  if (!IsDigestText(digest)) {
    platform::SetLastError(platform::HASH_SERVER_BAD_REPLY);
    return {};
  }
  return digest;
}

}  // namespace verify
