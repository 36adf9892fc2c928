#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/base/win_status.h"
#include "platform/os/ip_address.h"
#include "platform/os/socket.h"

namespace platform {

namespace {

// SocketAddress is an IPv4 or IPv6 socket address.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

std::optional<SocketAddress> ToSocketAddress(const std::string& text, uint16_t port) {
  SocketAddress address;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
  if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    address.length = sizeof *v4;
  } else if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    address.length = sizeof *v6;
  } else {
    return std::nullopt;
  }
  return address;
}

ListenResult ListenFailed(ListenStep step) {
  ListenResult result;
  result.failedAt = step;
  result.reason = std::strerror(errno);
  return result;
}

}  // namespace

bool IsIpAddress(const std::string& text) { return ToSocketAddress(text, 0).has_value(); }

std::optional<ListenEndpoint> ParseListenEndpoint(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  if (bracketed) host = host.substr(1, host.size() - 2);
  ListenEndpoint endpoint{std::string(host), 0};
  unsigned number = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || error != std::errc() || end != port.data() + port.size() || number > 65535) {
    return std::nullopt;
  }
  // An IPv6 address goes in brackets, so that its own colons cannot be read as the port's.
  const bool ipv6 = endpoint.address.find(':') != std::string::npos;
  if (ipv6 != bracketed || !IsIpAddress(endpoint.address)) return std::nullopt;
  endpoint.port = static_cast<uint16_t>(number);
  return endpoint;
}

ListenResult OpenListenSocket(const std::string& text, uint16_t port, int backlog) {
  const std::optional<SocketAddress> address = ToSocketAddress(text, port);
  if (!address) {
    errno = EINVAL;
    return ListenFailed(ListenStep::kBind);
  }
  UniqueFd fd(::socket(address->storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd) return ListenFailed(ListenStep::kSocket);
  const int on = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address->storage), address->length) !=
      0) {
    return ListenFailed(ListenStep::kBind);
  }
  if (::listen(fd.get(), backlog) != 0) return ListenFailed(ListenStep::kListen);
  ListenResult result;
  result.fd = std::move(fd);
  return result;
}

ListenResult OpenListenSocket(uint16_t port, int backlog) {
  return OpenListenSocket("0.0.0.0", port, backlog);
}

uint16_t LocalPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

UniqueFd AcceptConnection(int listenFd) {
  for (;;) {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0 && errno == EINTR) continue;
    return UniqueFd(fd);
  }
}

std::string PeerEndpoint(int fd) {
  const std::optional<IpEndpoint> peer = PeerIpEndpoint(fd);
  return peer ? EndpointText(*peer) : "";
}

bool SetSocketTimeouts(int fd, int milliseconds) {
  timeval timeout{};
  timeout.tv_sec = milliseconds / 1000;
  timeout.tv_usec = (milliseconds % 1000) * 1000;
  const bool receive = ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
  const bool send = ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) == 0;
  return receive && send;
}

bool SetNoDelay(int fd) {
  const int on = 1;
  return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

ssize_t Receive(int fd, std::span<char> buffer, bool* timedOut) {
  for (;;) {
    const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (received < 0 && errno == EINTR) continue;
    if (timedOut != nullptr) *timedOut = received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    return received < 0 ? -1 : received;
  }
}

size_t BytesWaiting(int fd) {
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting < 0) return 0;
  return static_cast<size_t>(waiting);
}

bool PeerHasLeft(int fd) {
  pollfd waiter{fd, POLLRDHUP, 0};
  int ready;
  do {
    ready = ::poll(&waiter, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (waiter.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void ShutdownSocket(int fd) { ::shutdown(fd, SHUT_RDWR); }

namespace {

// ResolverCode maps getaddrinfo's failure to the Windows Sockets code gethostbyname leaves.
uint32_t ResolverCode(int code) { return code == EAI_AGAIN ? WSATRY_AGAIN : WSAHOST_NOT_FOUND; }

// ConnectWithin connects `fd` to `address` within `timeoutMs`; returns 0, or the errno value of
// the failure (ETIMEDOUT when the time ran out).
int ConnectWithin(int fd, const addrinfo& address, int timeoutMs) {
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  pollfd waiter{fd, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&waiter, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return errno;
  if (ready == 0) return ETIMEDOUT;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace

UniqueFd ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, bool* resolveFailed,
                    uint32_t* resolverCode, AddressFamilies families, std::string* reason) {
  *resolveFailed = false;
  int failure = ETIMEDOUT;  // what is left when no address could be tried in time
  addrinfo hints{};
  hints.ai_family = families == AddressFamilies::kIpv4Only ? AF_INET : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0 || found == nullptr) {
    *resolveFailed = true;
    *resolverCode = ResolverCode(resolved);
    if (reason != nullptr) {
      *reason = resolved == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(resolved);
    }
    return UniqueFd();
  }
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
  // A name may have an IPv6 address first while the server listens on IPv4 only, or the other
  // way round: each address is tried in turn in what is left of the time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    UniqueFd fd(
        ::socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
    failure = fd ? ConnectWithin(fd.get(), *address, static_cast<int>(left.count())) : errno;
    if (failure != 0) continue;
    // Back to blocking mode; the exchange itself runs on receive and send time-outs.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
  }
  if (reason != nullptr) *reason = std::strerror(failure);
  return UniqueFd();
}

}  // namespace platform
