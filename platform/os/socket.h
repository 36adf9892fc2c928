#pragma once

// TCP sockets as the server and its clients use them: IPv4 streams (and IPv6 for connections that
// ask for it), blocking calls with time-outs, sends that never raise SIGPIPE. Failures come back
// as values; errno stays inside.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/unique_fd.h"

namespace platform {

enum class ListenStep { kDone, kSocket, kBind, kListen };

struct ListenResult {
  UniqueFd fd;
  ListenStep failedAt = ListenStep::kDone;
  std::string reason;  // the system's text for the failed step
};

// IsIpAddress is true for a literal IPv4 ("127.0.0.1") or IPv6 ("::1") address.
bool IsIpAddress(const std::string& text);

// ListenEndpoint is an address and port to listen on.
struct ListenEndpoint {
  std::string address;
  uint16_t port = 0;
};

// ParseListenEndpoint reads "ADDRESS:PORT" with a literal IPv4 address, or "[ADDRESS]:PORT" with
// an IPv6 one, the port a decimal number up to 65535. Returns nullopt for anything else.
std::optional<ListenEndpoint> ParseListenEndpoint(std::string_view text);

// OpenListenSocket creates a TCP socket, binds it to `address` (a literal IPv4 or IPv6 address;
// "::" takes IPv4 connections too) and `port`, and listens with `backlog`. SO_REUSEADDR is set so
// that connections of an earlier run still in TIME_WAIT do not block the port, as on Windows; a
// port held by another listener still fails at the bind. On failure the socket is closed and
// `failedAt` names the step.
ListenResult OpenListenSocket(const std::string& address, uint16_t port, int backlog);
// OpenListenSocket on 0.0.0.0.
ListenResult OpenListenSocket(uint16_t port, int backlog);

// LocalPort returns the port `fd` is bound to (host order), or 0.
uint16_t LocalPort(int fd);

// AcceptConnection blocks in accept on `listenFd`; returns the connection, or none when accept
// fails (also when the listening socket has been shut down).
UniqueFd AcceptConnection(int listenFd);

// PeerEndpoint returns the peer of the connection `fd` with its port ("192.0.2.7:51234",
// "[2001:db8::7]:51234"; an IPv4-mapped IPv6 peer as its IPv4 address), or an empty text when it
// cannot be read (the peer has gone already, say).
std::string PeerEndpoint(int fd);

// SetSocketTimeouts sets the receive and send time-outs of `fd` to `milliseconds`.
bool SetSocketTimeouts(int fd, int milliseconds);

// SetNoDelay sets TCP_NODELAY on `fd`: each send goes out at once instead of waiting, as Nagle's
// algorithm does, for the acknowledgement of data sent before. False when it cannot be set.
bool SetNoDelay(int fd);

// SendAll sends all of `data`, continuing after partial sends. Returns false when a send fails or
// times out; the peer having gone never raises SIGPIPE.
bool SendAll(int fd, std::string_view data);

// Receive reads at most `buffer.size()` bytes. Returns the count, 0 when the peer closed, -1 on an
// error or time-out; `timedOut`, when given, tells the time-out from the other failures.
ssize_t Receive(int fd, std::span<char> buffer, bool* timedOut = nullptr);

// BytesWaiting returns how many received bytes can be read without blocking (FIONREAD), or 0.
size_t BytesWaiting(int fd);

// PeerHasLeft is true when the peer of the connection `fd` has closed it (or shut down its
// sending side) or reset it, whatever it sent before that is still waiting to be read. Does not
// block.
bool PeerHasLeft(int fd);

// ShutdownSocket ends both directions of `fd`: a thread blocked in accept or recv on it returns.
void ShutdownSocket(int fd);

// AddressFamilies are the addresses ConnectTcp resolves a host to.
enum class AddressFamilies { kIpv4Only, kIpv4AndIpv6 };

// ConnectTcp resolves `host` (a name, a dotted IPv4 address or, with kIpv4AndIpv6, an IPv6
// address without brackets) to its addresses of `families` and tries them in the resolver's order
// at `port` until one connects, all within `timeoutMs`. On failure returns none and sets
// `*resolveFailed` when the name could not be resolved, with `*resolverCode` the resolver's own
// code in Windows terms; `*reason`, when given, is the system's text for the failure: the
// resolver's ("Name or service not known"), or the last address's ("Connection refused",
// "Connection timed out" when the time ran out).
UniqueFd ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, bool* resolveFailed,
                    uint32_t* resolverCode, AddressFamilies families = AddressFamilies::kIpv4Only,
                    std::string* reason = nullptr);

}  // namespace platform
