#pragma once

// Waits on a socket against a deadline, for exchanges that must end at a fixed time whatever the
// peer sends (a per-call receive time-out is renewed by every byte a trickling peer sends).

#include <chrono>

namespace platform {

enum class WaitResult {
  kReady,     // a byte can be read, or the peer closed
  kTimedOut,  // `deadline` passed first
  kFailed,    // the wait itself failed
};

// WaitReadable blocks until `fd` has a byte to read or its peer has closed, or until `deadline`,
// whichever comes first. A signal does not end the wait early.
WaitResult WaitReadable(int fd, std::chrono::steady_clock::time_point deadline);

}  // namespace platform
