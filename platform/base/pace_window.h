#pragma once

// PaceWindow judges whether a transfer keeps a minimum average rate. A peer that sends a byte now
// and then renews every per-call time-out, and one that sends bursts between long pauses fools a
// check of the current speed; what counts here is the average over the last whole window, so a
// transfer that is slower than the floor over any window is too slow, however its bytes came.
//
// Example:
//   PaceWindow pace(1024, std::chrono::seconds(20), std::chrono::steady_clock::now());
//   ... on each progress report:
//   if (!pace.Note(std::chrono::steady_clock::now(), bytesSoFar)) Abort();

#include <chrono>
#include <cstdint>
#include <deque>

namespace platform {

class PaceWindow {
 public:
  using Clock = std::chrono::steady_clock;

  // A transfer that began at `start` must bring at least `bytesPerSecond` bytes per second on
  // average over every stretch of `window`. A floor or a window of 0 asks no pace.
  PaceWindow(uint64_t bytesPerSecond, std::chrono::milliseconds window, Clock::time_point start);

  // Note records that `total` bytes have arrived by `now` (times and totals never go back).
  // Returns false when the stretch of at least the window that ends now averaged below the
  // floor; true before the first whole window has passed.
  bool Note(Clock::time_point now, uint64_t total);

 private:
  struct Sample {
    Clock::time_point at;
    uint64_t total;
  };

  uint64_t floor;
  Clock::duration window;
  // A few samples a window, the oldest at or before the start of the current window.
  std::deque<Sample> samples;
};

}  // namespace platform
