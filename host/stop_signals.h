#pragma once

// File: the process's stop signals. SIGINT and SIGTERM are blocked in every thread and taken by
// one thread of their own, which hands each to the host: a service turns it into the stop
// control, a desktop run into WM_CLOSE for its window thread. SIGHUP, taken the same way, opens
// the log file again by its name, for logrotate.
//
// Example (first thing in main, before any other thread starts):
//   host::StopSignals::Block();
//   host::StopSignals signals([&](int signal) { module.OnStopSignal(signal); });

#include <atomic>
#include <functional>
#include <thread>

namespace host {

class StopSignals {
 public:
  // Block blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread it starts
  // later.
  static void Block();

  // Starts the thread that waits for the signals and calls `handler` with each, on that thread.
  // Block must have run on the constructing thread before any other thread was started.
  explicit StopSignals(std::function<void(int signal)> handler);
  // Ends the thread; a call of the handler under way is waited for.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  void Wait();

  std::function<void(int)> onSignal;
  std::atomic<bool> ending{false};
  std::thread thread;
};

}  // namespace host
