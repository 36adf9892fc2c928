#include "platform/base/pace_window.h"

#include <gtest/gtest.h>

#include <functional>

namespace platform {
namespace {

// Transfers reported once a second, as bytes so far after s seconds, against a floor of 1 KiB a
// second over 20 s: the first second at which each is too slow, or 0.
TEST(PaceWindow, StopsATransferSlowerThanTheFloorOverAWholeWindow) {
  struct Case {
    const char* why;
    std::function<uint64_t(int)> bytesAt;
    int tooSlowAt;
  };
  const Case kCases[] = {
      {"one byte a second", [](int s) { return s; }, 20},
      {"10 KiB at once every 19 s", [](int s) { return 10240 * (s / 19 + 1); }, 21},
      {"1024 bytes a second, the floor itself", [](int s) { return 1024 * s; }, 0},
      {"1023 bytes a second", [](int s) { return 1023 * s; }, 20},
      // Judged from the samples kept, 1.25 s apart: a second late here.
      {"1 GiB, then nothing", [](int) { return 1 << 30; }, 22},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const PaceWindow::Clock::time_point start{};
    PaceWindow pace(1024, std::chrono::seconds(20), start);
    int tooSlowAt = 0;
    for (int s = 1; s <= 60 && tooSlowAt == 0; ++s) {
      if (!pace.Note(start + std::chrono::seconds(s), c.bytesAt(s))) tooSlowAt = s;
    }
    EXPECT_EQ(tooSlowAt, c.tooSlowAt);
  }
}

}  // namespace
}  // namespace platform
