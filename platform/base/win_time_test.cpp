#include "platform/base/win_time.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(SystemTimeToFileTime, MatchesWindowsValues) {
  struct Case {
    SystemTime time;
    uint64_t fileTime;
  };
  // Values worked out from the FILETIME definition: 100 ns ticks since 1601-01-01 UTC.
  const Case kCases[] = {
      {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ULL},
      {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},
      {{2021, 3, 2, 2, 12, 0, 0, 0}, 132591600000000000ULL},
      {{2000, 2, 2, 29, 23, 59, 59, 999}, 125963423999990000ULL},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.time.year);
    EXPECT_EQ(SystemTimeToFileTime(c.time), c.fileTime);
  }
}

TEST(SystemTimeToFileTime, RefusesFieldsOutOfRange) {
  const SystemTime kInvalid[] = {
      {0, 1, 0, 1, 0, 0, 0, 0},        // year 0: "not set"
      {2021, 2, 0, 29, 0, 0, 0, 0},    // no 29 February in 2021
      {2021, 13, 0, 1, 0, 0, 0, 0},    // month 13
      {2021, 1, 0, 1, 24, 0, 0, 0},    // hour 24
      {2021, 1, 0, 1, 0, 0, 0, 1000},  // milliseconds 1000
  };
  for (const SystemTime& t : kInvalid) EXPECT_FALSE(SystemTimeToFileTime(t).has_value());
}

TEST(FileTime, UnixSecondsRoundTrip) {
  EXPECT_EQ(FileTimeToUnixSeconds(116444736000000000ULL), 0);
  EXPECT_EQ(FileTimeToUnixSeconds(132591600000000000ULL), 1614686400);
  EXPECT_EQ(UnixSecondsToFileTime(1614686400), 132591600000000000ULL);
  EXPECT_EQ(FileTimeToUnixSeconds(0), -11644473600);
  EXPECT_FALSE(UnixSecondsToFileTime(-11644473601).has_value());
}

}  // namespace
}  // namespace platform
