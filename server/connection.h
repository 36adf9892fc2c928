#pragma once

// The conversation on one accepted connection: greeting, lines and blocks through a LineReader,
// commands through a Session, until the client quits, the peer closes, a receive fails or times
// out, or the connection holds too much data.

#include <cstddef>
#include <string>

#include "server/held_budget.h"
#include "server/session.h"

namespace server {

// At most this many bytes of data blocks (finished or open) and unfinished line per connection.
inline constexpr size_t kMaxHeldBytes = size_t{128} << 20;
// Send and receive time-out of every connection.
inline constexpr int kConnectionTimeoutMs = 10000;

// ConnectionLimits bound what one connection may hold, alone and together with the others.
struct ConnectionLimits {
  size_t maxHeldBytes = kMaxHeldBytes;
  HeldBudget* budget = nullptr;  // null: HeldBudget::Process()
};

enum class ConnectionEnd { kQuit, kClosed, kOverLimit };

// Converse greets the client on `fd` with `version` and runs the protocol until it ends. A
// connection that would hold more than `limits` allow ends as if the peer had closed, with a log
// line. The log lines of the conversation are written together, each request's before its
// answer. The caller owns and closes `fd`.
ConnectionEnd Converse(int fd, const std::string& version, RequestHandler& handler,
                       const ConnectionLimits& limits = {});

}  // namespace server
