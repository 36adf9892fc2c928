#include "platform/os/process_stats.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(ParseProcStat, CountsFieldsFromTheLastParenthesis) {
  // Each field holds its own number (priority and nice negative, as they may be).
  const std::string tail =
      " S 4 5 6 7 8 9 10 11 12 13 14 15 16 17 -18 -19 20 21 22 23 24 25 26 27";
  const std::optional<ProcStatTimes> plain = ParseProcStat("42 (quilmarend)" + tail);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->userTicks, 14u);
  EXPECT_EQ(plain->systemTicks, 15u);
  EXPECT_EQ(plain->startTicks, 22u);
  EXPECT_EQ(plain->virtualBytes, 23u);
  EXPECT_EQ(plain->residentPages, 24u);
  // A name may hold blanks and parentheses of its own.
  const std::optional<ProcStatTimes> odd = ParseProcStat("42 (a) b (c)" + tail);
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->residentPages, 24u);
  for (const char* bad : {"", "42 quilmarend S 1 2", "42 (q) S 1 2 3"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseProcStat(bad));
  }
}

}  // namespace
}  // namespace platform
