#include "platform/base/pace_window.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace platform {
namespace {

using std::chrono::milliseconds;

// Transfers told as (milliseconds since the start, bytes so far) against a floor of 1024 bytes a
// second over 20 s; each gives the first report at which the transfer is too slow, or -1.
TEST(PaceWindow, StopsATransferSlowerThanTheFloorOverAWholeWindow) {
  struct Case {
    const char* why;
    std::vector<std::pair<int, uint64_t>> reports;
    int tooSlowAt;
  };
  std::vector<std::pair<int, uint64_t>> oneBytePerSecond, bursts, steady, stalled;
  for (int s = 1; s <= 40; ++s) {
    oneBytePerSecond.push_back({s * 1000, static_cast<uint64_t>(s)});
    steady.push_back({s * 1000, static_cast<uint64_t>(s) * 1100});
    stalled.push_back({s * 1000, uint64_t{1} << 30});  // all of it in the first second
  }
  // 10 KiB at once every 19 s: fast for a moment, 540 bytes a second on average.
  for (int s = 1; s <= 60; ++s) bursts.push_back({s * 1000, uint64_t{10240} * (s / 19 + 1)});
  const Case kCases[] = {
      {"one byte a second", oneBytePerSecond, 20000},
      {"bursts between pauses", bursts, 21000},
      {"just above the floor", steady, -1},
      // Judged from the samples kept, 1.25 s apart: a second late here.
      {"fast, then nothing for 20 s", stalled, 22000},
      {"nothing at all, reported late", {{5000, 0}, {25000, 0}}, 25000},
      {"a whole window's worth in the last second", {{19000, 0}, {20000, 20480}}, -1},
      {"one byte short of it", {{19000, 0}, {20000, 20479}}, 20000},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const PaceWindow::Clock::time_point start{};
    PaceWindow pace(1024, milliseconds(20000), start);
    int tooSlowAt = -1;
    for (const auto& [at, total] : c.reports) {
      if (!pace.Note(start + milliseconds(at), total)) {
        tooSlowAt = at;
        break;
      }
    }
    EXPECT_EQ(tooSlowAt, c.tooSlowAt);
  }
}

}  // namespace
}  // namespace platform
