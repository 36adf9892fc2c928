#pragma once

// FakeClock is a calendar clock that moves only when the test moves it.
//
// Example:
//   tests::FakeClock clock;
//   TmpCertArhive archive(clock);
//   clock.now += 61;  // a minute and a second later

#include <atomic>
#include <cstdint>

#include "platform/os/clock.h"

namespace tests {

class FakeClock : public platform::Clock {
 public:
  // FakeClock starts at `start`, seconds since 1970 (2023-11-14 22:13:20 UTC by default).
  explicit FakeClock(int64_t start = 1700000000) : now(start) {}
  int64_t Now() const override { return now; }

  std::atomic<int64_t> now;
};

}  // namespace tests
