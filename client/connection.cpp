#include "client/connection.h"

#include <openssl/evp.h>

#include "client/blob_file.h"
#include "platform/base/cp1251.h"
#include "platform/base/names.h"
#include "platform/os/socket.h"
#include "platform/os/socket_wait.h"

namespace client {
namespace {

constexpr int kConnectTimeoutMs = 10'000;
constexpr std::chrono::milliseconds kGreetingLimit{10'000};
constexpr std::chrono::milliseconds kUnfinishedErrorPause{1'000};
// A block goes out in pieces of this many Base64 lines.
constexpr size_t kLinesPerSend = 1024;

std::string Trimmed(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

}  // namespace

bool IsErrorLine(std::string_view line) {
  return line.starts_with("error:") || line.starts_with("Error:");
}

std::optional<Connection> Connection::Open(const ServerAddress& address, std::string& error) {
  bool resolveFailed = false;
  uint32_t resolverCode = 0;
  platform::UniqueFd fd =
      platform::ConnectTcp(address.host, static_cast<uint16_t>(address.port), kConnectTimeoutMs,
                           &resolveFailed, &resolverCode, platform::AddressFamilies::kIpv4AndIpv6);
  const std::string where = address.Text();
  if (!fd) {
    error = resolveFailed ? "cannot resolve " + address.host
                          : "cannot connect to the server at " + where;
    return std::nullopt;
  }
  // Each command waits for its reply, so nothing is gained by holding small sends back; with
  // Nagle's algorithm a send that follows another unanswered one waits for the peer's delayed
  // acknowledgement.
  platform::SetNoDelay(fd.get());
  Connection connection(std::move(fd));
  const std::optional<std::string> greeting = connection.ReadLine(kGreetingLimit, error);
  if (!greeting || !greeting->starts_with(std::string(platform::kProgramName) + ' ')) {
    error = "no greeting from the server at " + where;
    return std::nullopt;
  }
  // The greeting is followed by an empty line.
  if (!connection.ReadLine(kGreetingLimit, error)) return std::nullopt;
  return connection;
}

bool Connection::Send(std::string_view data, std::string& error) {
  if (platform::SendAll(fd.get(), data)) return true;
  error = "the server closed the connection";
  return false;
}

std::optional<std::string> Connection::ReadLine(std::chrono::milliseconds limit,
                                                std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const size_t end = pending.find('\n');
    if (end != std::string::npos) {
      std::string line = Trimmed(pending.substr(0, end + 1));
      pending.erase(0, end + 1);
      return line;
    }
    const bool unfinishedError = IsErrorLine(pending);
    const auto wait =
        unfinishedError
            ? std::min(deadline, std::chrono::steady_clock::now() + kUnfinishedErrorPause)
            : deadline;
    const platform::WaitResult result = platform::WaitReadable(fd.get(), wait);
    if (result == platform::WaitResult::kTimedOut && unfinishedError) {
      std::string line = std::move(pending);
      pending.clear();
      return line;
    }
    if (result == platform::WaitResult::kTimedOut) {
      error = "the server did not answer in time";
      return std::nullopt;
    }
    char buffer[16384];
    const ssize_t received =
        result == platform::WaitResult::kFailed ? -1 : platform::Receive(fd.get(), buffer);
    if (received <= 0) {
      if (IsErrorLine(pending)) {
        std::string line = std::move(pending);
        pending.clear();
        return line;
      }
      error = "the server closed the connection";
      return std::nullopt;
    }
    pending.append(buffer, static_cast<size_t>(received));
  }
}

std::optional<std::string> Connection::Command(const std::string& line, std::string& error,
                                               std::chrono::milliseconds limit) {
  if (!Send(line + "\r\n", error)) return std::nullopt;
  return Reply(line, error, limit);
}

std::optional<std::string> Connection::Reply(const std::string& line, std::string& error,
                                             std::chrono::milliseconds limit) {
  std::optional<std::string> reply = ReadLine(limit, error);
  if (!reply) return std::nullopt;
  if (!reply->starts_with("OK:")) {
    // Errors carry the server's text, in UTF-8 like every other error message.
    const std::string text = platform::Cp1251ToUtf8(*reply);
    error = IsErrorLine(*reply) ? text : "unexpected reply to " + line + ": " + text;
    return std::nullopt;
  }
  return reply;
}

std::optional<std::string> Connection::Block(const std::string& command, const BlockSource& source,
                                             const std::function<void(uint64_t)>& sent,
                                             std::string& error) {
  if (!Command(command, error)) return std::nullopt;
  uint64_t total = 0;
  std::vector<uint8_t> carry;  // bytes short of a whole line, kept for the next piece
  std::string lines;           // the newest encoded lines, not sent yet
  for (bool last = false; !last;) {
    std::optional<std::vector<uint8_t>> piece = source(error);
    if (!piece) return std::nullopt;
    last = piece->empty();
    total += piece->size();
    carry.insert(carry.end(), piece->begin(), piece->end());
    const size_t whole = last ? carry.size() : carry.size() / kBase64LineBytes * kBase64LineBytes;
    for (size_t at = 0; at < whole; at += kBase64LineBytes * kLinesPerSend) {
      if (!lines.empty() && !Send(lines, error)) return std::nullopt;
      const size_t count = std::min(whole - at, kBase64LineBytes * kLinesPerSend);
      lines = Base64Lines(std::span(carry).subspan(at, count));
    }
    carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(whole));
    sent(total);
  }
  // The last lines and the "." line go out in one send: the server answers only after the ".",
  // and a small send of its own would first wait for the acknowledgement of the lines.
  if (!Send(lines + ".\r\n", error)) return std::nullopt;
  return Reply(".", error, kAnswerLimit);
}

std::optional<std::vector<std::string>> Connection::Answer(const std::string& line,
                                                           std::string& error) {
  if (!Send(line + "\r\n", error)) return std::nullopt;
  std::vector<std::string> lines;
  for (;;) {
    std::optional<std::string> next = ReadLine(kAnswerLimit, error);
    if (!next) return std::nullopt;
    if (lines.empty() && IsErrorLine(*next)) return std::vector<std::string>{*next};
    if (*next == ".") return lines;
    lines.push_back(std::move(*next));
  }
}

void Connection::Quit() {
  std::string ignored;
  if (Send("QUIT\r\n", ignored)) (void)ReadLine(kGreetingLimit, ignored);
}

}  // namespace client
