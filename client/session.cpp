#include "client/session.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/base/names.h"
#include "platform/os/socket.h"

namespace client {
namespace {

using Clock = std::chrono::steady_clock;

// Some error answers end without a line end: one counts as whole after this pause.
constexpr std::chrono::milliseconds kUnfinishedErrorPause{1'000};
constexpr size_t kReceivePiece = size_t{64} << 10;
// How much of what a peer that is not the server said goes into the message.
constexpr size_t kQuotedBytes = 80;

std::string Seconds(std::chrono::milliseconds limit) {
  return std::to_string((limit.count() + 999) / 1000) + " s";
}

}  // namespace

std::optional<Session> Session::Open(const ServerAddress& address,
                                     std::chrono::milliseconds timeout, Failure& failure) {
  bool resolveFailed = false;
  uint32_t resolverCode = 0;
  std::string reason;
  platform::UniqueFd fd = platform::ConnectTcp(
      address.host, static_cast<uint16_t>(address.port), static_cast<int>(timeout.count()),
      &resolveFailed, &resolverCode, platform::AddressFamilies::kIpv4AndIpv6, &reason);
  if (!fd) {
    failure = {FailureKind::kConnection,
               resolveFailed ? "cannot resolve " + address.host + ": " + reason
                             : "cannot connect to the server at " + address.Text() + ": " + reason};
    return std::nullopt;
  }
  // Requests go out as soon as they are queued; Nagle's algorithm would hold a small one back
  // until the one before it is acknowledged.
  platform::SetNoDelay(fd.get());
  return Session(std::move(fd), address.Text(), timeout);
}

void Session::Queue(std::string_view bytes) {
  if (sentBytes > outgoing.size() / 2) {
    outgoing.erase(0, sentBytes);
    sentBytes = 0;
  }
  if (sendError.empty()) outgoing.append(bytes);
}

void Session::Command(std::string_view line) {
  Queue(line);
  Queue("\r\n");
  reader.Expect(ReplyShape::kLine);
}

void Session::Request(std::string_view line) {
  Queue(line);
  Queue("\r\n");
  reader.Expect(ReplyShape::kAnswer);
}

void Session::Data(std::string_view lines) { Queue(lines); }

void Session::EndBlock() {
  Queue(".\r\n");
  reader.Expect(ReplyShape::kLine);
}

bool Session::Exchange(Failure& failure) {
  const Clock::time_point start = Clock::now();
  const bool unfinishedError =
      IsErrorLine(reader.Unread()) && reader.Unread().find('\n') == std::string_view::npos;
  const std::chrono::milliseconds wait = unfinishedError ? kUnfinishedErrorPause : timeout;
  const bool sending = Unsent() > 0 && sendError.empty();
  pollfd waiter{fd.get(), static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
  int ready = 0;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(start + wait - Clock::now());
    ready = ::poll(&waiter, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready >= 0 || errno != EINTR) break;
  }
  if (ready == 0) {
    if (unfinishedError && reader.EndUnfinishedError()) return true;
    failure = {FailureKind::kConnection,
               "no answer from the server at " + where + " within " + Seconds(timeout)};
    return false;
  }
  if (ready < 0) {
    failure = {FailureKind::kConnection,
               std::string("cannot wait for the server: ") + std::strerror(errno)};
    return false;
  }
  if (waiter.revents & (POLLIN | POLLHUP | POLLERR)) {
    char buffer[kReceivePiece];
    const ssize_t received = ::recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (received > 0) {
      reader.Take(std::string_view(buffer, static_cast<size_t>(received)));
    } else if (received == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      if (received < 0 && sendError.empty()) sendError = std::strerror(errno);
      peerClosed = true;
      reader.EndUnfinishedError();
    }
  }
  if ((waiter.revents & POLLOUT) && sending) {
    const ssize_t sent =
        ::send(fd.get(), outgoing.data() + sentBytes, Unsent(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      sentBytes += static_cast<size_t>(sent);
    } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      // The replies already on their way may still say why; nothing more is sent.
      sendError = std::strerror(errno);
      outgoing.clear();
      sentBytes = 0;
    }
  }
  return true;
}

std::optional<Reply> Session::Next(Failure& failure, const std::function<void()>& refill) {
  const auto notTheServer = [&](std::string_view said) {
    said = said.substr(0, std::min(said.find_first_of("\r\n"), kQuotedBytes));
    failure = {FailureKind::kConnection, where + " is not a " + platform::kProgramName +
                                             " server; it said \"" + std::string(said) + "\""};
    return std::nullopt;
  };
  for (;;) {
    if (std::optional<Reply> reply = reader.Next()) {
      if (greeted) return reply;
      if (reply->refused) return notTheServer(reply->lines.front());
      greeted = true;
      continue;
    }
    if (!greeted && reader.IsNotTheServer()) return notTheServer(reader.Unread());
    if (peerClosed) {
      failure = {FailureKind::kConnection, "the server at " + where + " closed the connection" +
                                               (greeted ? "" : " without a greeting") +
                                               (sendError.empty() ? "" : ": " + sendError)};
      return std::nullopt;
    }
    if (refill && Unsent() < kRefillBelow) refill();
    if (!Exchange(failure)) return std::nullopt;
  }
}

}  // namespace client
