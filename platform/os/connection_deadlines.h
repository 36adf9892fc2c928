#pragma once

// ConnectionDeadlines shuts down the connections that miss a deadline, on one thread of its own:
// the end of a request head that must arrive within a fixed time of the connection opening (or of
// its previous answer), however the bytes of it trickle in. A time-out that restarts at every
// received byte cannot bound that; this can. Shutting the socket down makes its owner's next
// read see the end of the stream, so the owner closes the connection as it closes any other.
//
// Example:
//   ConnectionDeadlines deadlines(std::chrono::seconds(10));
//   deadlines.Opened(connection, fd);   // armed: the head is due in 10 s
//   deadlines.Disarm(connection);       // the head is complete
//   deadlines.Arm(connection);          // answered; the next head is due in 10 s
//   deadlines.Closed(connection);       // before the owner closes `fd`

#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <unordered_map>

#include "platform/base/mutex.h"

namespace platform {

class ConnectionDeadlines {
 public:
  // Starts the thread; throws std::system_error when it cannot be created.
  explicit ConnectionDeadlines(std::chrono::milliseconds allowance);
  // Stops and joins the thread; no connection is shut down after that.
  ~ConnectionDeadlines();
  ConnectionDeadlines(const ConnectionDeadlines&) = delete;
  ConnectionDeadlines& operator=(const ConnectionDeadlines&) = delete;

  // Opened tracks `connection` (a key of the caller's) on the socket `fd`, armed.
  void Opened(const void* connection, int fd) EXCLUDES(lock);
  // Arm gives `connection` the allowance from now; Disarm takes its deadline away.
  void Arm(const void* connection) EXCLUDES(lock);
  void Disarm(const void* connection) EXCLUDES(lock);
  // Closed forgets `connection`. Call it before its socket is closed, so that the descriptor is
  // never shut down after it has been reused.
  void Closed(const void* connection) EXCLUDES(lock);

 private:
  using Clock = std::chrono::steady_clock;
  struct Tracked {
    int fd;
    std::optional<Clock::time_point> deadline;
  };
  void Run() EXCLUDES(lock);

  const std::chrono::milliseconds allowance;
  Mutex lock;
  CondVar changed;
  bool stopping GUARDED_BY(lock) = false;
  uint64_t changes GUARDED_BY(lock) = 0;  // bumped when a deadline may come sooner
  std::unordered_map<const void*, Tracked> connections GUARDED_BY(lock);
  std::thread thread;  // last: it starts once the rest is ready
};

}  // namespace platform
