#include <ctime>

#include "platform/os/clock.h"

namespace platform {
namespace {

class RealClock : public Clock {
 public:
  int64_t Now() const override { return static_cast<int64_t>(std::time(nullptr)); }
};

}  // namespace

const Clock& SystemClock() {
  static const RealClock clock;
  return clock;
}

}  // namespace platform
