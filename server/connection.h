#pragma once

// The conversation on one accepted connection: greeting, lines and blocks through a LineReader,
// commands through a Session, until the client quits, the peer closes, a receive fails or times
// out, the connection holds too much data, or a line arrives too slowly.

#include <string>

#include "server/held_budget.h"
#include "server/server_limits.h"
#include "server/session.h"

namespace server {

enum class ConnectionEnd { kQuit, kClosed, kTimedOut, kOverLimit, kOverLimitTogether, kTooSlow };

// Converse greets the client on `fd` with `version` and runs the protocol until it ends. Every
// send, and every wait for the client's next byte, may take `limits.connectionTimeout`; a
// connection that would hold more than `limits.maxHeldBytes`, or take `budget` (shared with the
// other connections) past its limit, ends as if the peer had closed, with a log line; so does one
// whose unfinished line has been arriving for `limits.slowLineAllowance` or more at under
// `limits.minLineRate` bytes per second since its first byte (each line is judged alone; a line
// that keeps that pace may take as long as it needs). The log lines of the conversation are
// written together, each request's before its answer. `metrics`, when given, counts the commands
// and CHECKs. `clientName` names the client in the request lines (empty: the socket's peer); a
// request's download stops once the client has closed the connection. The caller owns and closes
// `fd`.
ConnectionEnd Converse(int fd, const std::string& version, RequestHandler& handler,
                       const Limits& limits, HeldBudget& budget, ServerMetrics* metrics = nullptr,
                       const std::string& clientName = "");

}  // namespace server
