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
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

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
  void Opened(const void* connection, int fd);
  // Arm gives `connection` the allowance from now; Disarm takes its deadline away.
  void Arm(const void* connection);
  void Disarm(const void* connection);
  // Closed forgets `connection`. Call it before its socket is closed, so that the descriptor is
  // never shut down after it has been reused.
  void Closed(const void* connection);

 private:
  using Clock = std::chrono::steady_clock;
  struct Tracked {
    int fd;
    std::optional<Clock::time_point> deadline;
  };
  void Run();

  const std::chrono::milliseconds allowance;
  std::mutex lock;
  std::condition_variable changed;
  bool stopping = false;                                 // guarded by `lock`
  std::unordered_map<const void*, Tracked> connections;  // guarded by `lock`
  std::thread thread;                                    // last: it starts once the rest is ready
};

}  // namespace platform
