#pragma once

// File: the PROXY protocol header (versions 1 and 2) that a balancer such as HAProxy sends at the
// start of a connection it relays, before any byte of the client's, to name the client. The
// server takes it only from the balancers' own addresses, reads exactly the header and nothing
// after it, and within a deadline.
//
//   version 1: "PROXY TCP4 192.0.2.7 192.0.2.1 51234 3847\r\n" (TCP6 likewise, or
//              "PROXY UNKNOWN ...\r\n"), at most 107 bytes
//   version 2: the 12-byte signature "\r\n\r\n\0\r\nQUIT\n", version and command (0x20 LOCAL,
//              0x21 PROXY), family (0x11 TCP over IPv4, 0x21 TCP over IPv6, 0x00 unspecified,
//              0x31 a local stream socket), the length of the rest (big-endian), then source and
//              destination addresses and ports and any TLVs, which are skipped
//
// A header that names no IP client (LOCAL, as a balancer's health check sends it, UNKNOWN, an
// unspecified or local-socket family) leaves the connection's own peer as the client.
//
// Example:
//   const ProxyHeaderRead read = ReadProxyHeader(fd, steady_clock::now() + 5s);
//   if (read.outcome == ProxyHeaderOutcome::kDone && read.source) client = *read.source;

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/os/ip_address.h"

namespace server {

// The longest header read: the fixed part of version 2 and the longest rest its length field
// can announce.
inline constexpr size_t kMaxProxyHeaderBytes = 16 + 65535;

enum class ProxyHeaderStatus {
  kNeedMore,  // what has come so far may begin a header
  kInvalid,   // no header, or a malformed one
  kDone,      // a whole header
};

struct ProxyHeaderParse {
  ProxyHeaderStatus status = ProxyHeaderStatus::kInvalid;
  // kNeedMore: how many bytes the header has at least, more than have come; kDone: its length.
  size_t bytes = 0;
  // kDone: the client the header names; none when it names no IP client.
  std::optional<platform::IpEndpoint> source;
};

// ParseProxyHeader reads the start of a connection, `received`. It asks for more only while the
// bytes so far may begin a header, and never for a byte past the header's end, so that a reader
// that takes just what it asks for leaves the client's own bytes unread.
ProxyHeaderParse ParseProxyHeader(std::span<const uint8_t> received);

enum class ProxyHeaderOutcome {
  kDone,     // `source` as ParseProxyHeader gives it
  kInvalid,  // no header, or a malformed one
  kTooSlow,  // the deadline passed before the header was whole
  kClosed,   // the peer closed, or a receive failed, before that
};

struct ProxyHeaderRead {
  ProxyHeaderOutcome outcome = ProxyHeaderOutcome::kInvalid;
  std::optional<platform::IpEndpoint> source;
};

// ReadProxyHeader reads the header at the start of the connection `fd`, and not a byte more,
// waiting at most until `deadline`.
ProxyHeaderRead ReadProxyHeader(int fd, std::chrono::steady_clock::time_point deadline);

}  // namespace server
