#pragma once

// Clock gives the calendar time in whole seconds since 1970 (UTC). The real one reads the system
// clock; tests hand a settable one to what they examine.

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t Now() const = 0;
};

// SystemClock returns the process-wide real clock.
const Clock& SystemClock();

}  // namespace platform
