#pragma once

// The conversation on one accepted connection: greeting, lines and blocks through a LineReader,
// commands through a Session, until the client quits, the peer closes, a receive fails or times
// out, the connection holds too much data, or a line arrives too slowly.

#include <chrono>
#include <cstddef>
#include <string>

#include "server/held_budget.h"
#include "server/session.h"

namespace server {

// At most this much memory per connection for its data blocks (finished or open) and the buffer
// that holds its unfinished line, counted as allocated, not as the bytes in them.
inline constexpr size_t kMaxHeldBytes = size_t{128} << 20;
// Send and receive time-out of every connection.
inline constexpr int kConnectionTimeoutMs = 10000;
// An unfinished line that has been arriving this long at under kMinLineRate bytes per second on
// average ends its connection: the receive time-out alone restarts at every byte, so a peer that
// trickles could otherwise hold a worker for ever.
inline constexpr std::chrono::milliseconds kSlowLineAllowance{30000};
inline constexpr size_t kMinLineRate = 64 * 1024;

// ConnectionLimits bound what one connection may hold, alone and together with the others, and
// how slowly its lines may arrive.
struct ConnectionLimits {
  size_t maxHeldBytes = kMaxHeldBytes;
  HeldBudget* budget = nullptr;  // null: HeldBudget::Process()
  std::chrono::milliseconds slowLineAllowance = kSlowLineAllowance;
  size_t minLineRate = kMinLineRate;  // bytes per second; 0: no pace is asked
};

enum class ConnectionEnd { kQuit, kClosed, kOverLimit, kTooSlow };

// Converse greets the client on `fd` with `version` and runs the protocol until it ends. A
// connection that would hold more than `limits` allow ends as if the peer had closed, with a log
// line; so does one whose unfinished line has been arriving for `limits.slowLineAllowance` or
// more at under `limits.minLineRate` bytes per second since its first byte (each line is judged
// alone; a line that keeps that pace may take as long as it needs). The log lines of the
// conversation are written together, each request's before its answer. The caller owns and
// closes `fd`.
ConnectionEnd Converse(int fd, const std::string& version, RequestHandler& handler,
                       const ConnectionLimits& limits = {});

}  // namespace server
