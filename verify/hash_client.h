#pragma once

// The hash-server client: the digest text of a document, computed here or by a remote server
// that answers this server's own GETHASH command.
//
// Exchange on the wire (lines end with CR LF):
//   server: greeting (any non-empty text)
//   client: "GETHASH " + reference
//   server: "OK: Hash=" + digest text
//   client: "QUIT"
//   server: a closing line, read and ignored
//
// The exchange is bounded whatever the peer does: connecting and the whole exchange after it by
// the engine's limits (10 s and 30 s in production), and a reply line at most 64 KiB
// (kMaxReplyLineBytes). A reply cut short by either limit counts as no reply.
//
// Failures leave the reason in the last error: the resolver's code, 1225 when the connection
// cannot be made (or takes longer than its limit), 30 when the greeting is empty (or does not come
// whole within the exchange's time), 5922 when GETHASH cannot be sent, 5921 when the reply does
// not begin with "OK: Hash=" (or does not come whole within the exchange's time) or what follows
// it on the reply's first line is not a digest: 64 hexadecimal digits. Nothing after the first
// line end of a reply is ever used.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "verify/engine_limits.h"

namespace verify {

// Default port of a hash server, the same as this server's.
inline constexpr uint16_t kHashServerPort = 3847;

// The longest reply line read.
inline constexpr size_t kMaxReplyLineBytes = 64 * 1024;

// GetHash returns the digest text of `reference`: computed here when `hashServer` is empty or
// exactly "localhost" (a URL downloaded through `engine`), else asked of the server `hashServer`
// names (host, or host:port) within the engine's limits. Empty on failure; a reference holding
// CR, LF or NUL fails at once with ERROR_INVALID_PARAMETER.
std::string GetHash(const std::string& reference, const std::string& hashServer,
                    const EngineContext& engine);

// HashServerAddress is where a remote hash server setting points.
struct HashServerAddress {
  std::string host;
  int port = kHashServerPort;
};

// ParseHashServer reads a remote hash server setting: the host, and the port after the first ":"
// when that is not the first character, read as atoi reads it; a port of 0, of letters or out of
// range means kHashServerPort.
HashServerAddress ParseHashServer(const std::string& setting);

// RequestHash asks the hash server at `host`:`port` (a port below 1 means 3847) for the digest
// text of `reference`, over one connection of its own, connecting within
// `limits.hashServerConnect` and exchanging within `limits.hashServerExchange`. Empty on failure.
std::string RequestHash(const std::string& reference, const std::string& host, int port,
                        const EngineLimits& limits);

// ReadReplyLine reads one reply from `fd`: bytes up to a line feed after which no further byte is
// waiting (lines that arrive together are read as one), or up to the close or a receive error.
// Trailing white space is removed. Returns empty when `deadline` passes before the reply ends or
// the reply grows past kMaxReplyLineBytes.
std::string ReadReplyLine(int fd, std::chrono::steady_clock::time_point deadline);

}  // namespace verify
