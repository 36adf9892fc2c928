#pragma once

// The conversation on one accepted connection: greeting, lines and blocks through a LineReader,
// commands through a Session, until the client quits, the peer closes, a receive fails or times
// out, or the connection holds too much unfinished data.

#include <cstddef>
#include <string>

#include "server/session.h"

namespace server {

// At most this many bytes of unfinished line plus open block per connection.
inline constexpr size_t kMaxPendingBytes = size_t{128} << 20;
// Send and receive time-out of every connection.
inline constexpr int kConnectionTimeoutMs = 10000;

enum class ConnectionEnd { kQuit, kClosed, kOverLimit };

// Converse greets the client on `fd` with `version` and runs the protocol until it ends. The
// caller owns and closes `fd`.
ConnectionEnd Converse(int fd, const std::string& version, RequestHandler& handler);

}  // namespace server
