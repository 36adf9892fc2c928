#include "server/time_argument.h"

#include <gtest/gtest.h>

namespace server {
namespace {

TEST(ParseTimeArgument, ReadsDateAndDefaultsTheTime) {
  struct Case {
    std::string_view argument, text;
  };
  const Case kCases[] = {
      {"2021-03-02", "Tuesday, 02 March 2021 12:00:00\r\n"},
      {"2021-03-02 08", "Tuesday, 02 March 2021 08:00:00\r\n"},
      {"2021-03-02 08:30", "Tuesday, 02 March 2021 08:30:00\r\n"},
      {" 2021-3-2   23:59:59", "Tuesday, 02 March 2021 23:59:59\r\n"},
      {"2021-02-30", "Tuesday, 02 March 2021 12:00:00\r\n"},  // rolls into March
      {"2020-02-29 00:00:01xyz", "Saturday, 29 February 2020 00:00:01\r\n"},
      {"2021-03-02 7:", "Tuesday, 02 March 2021 07:00:00\r\n"},  // a bare ":" reads nothing more
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.argument);
    const auto time = ParseTimeArgument(c.argument);
    ASSERT_TRUE(time.has_value());
    EXPECT_EQ(TimeSetText(*time), c.text);
    EXPECT_EQ(time->milliseconds, 0);
  }
}

TEST(ParseTimeArgument, RefusesInvalidFields) {
  const std::string_view kInvalid[] = {
      "1969-12-31",                // before 1970
      "2021-13-01",                // month 13
      "2021-03",                   // two date fields
      "2021-03-02 24:00:00",       // hour 24
      "2021-03-02 10:60",          // minute 60
      "2021-03-02 10:00:60",       // second 60
      "2021-03-32",                // day 32
      "2021-00-10",                // month 0
      "10000-01-01",               // year beyond 9999
      "3001-01-01",                // beyond the 64-bit time functions
      "",                          // nothing at all
      "2021/03/02",                // wrong separator
      "99999999999999999999-1-1",  // saturates, still refused
  };
  for (const std::string_view argument : kInvalid) {
    SCOPED_TRACE(argument);
    EXPECT_FALSE(ParseTimeArgument(argument).has_value());
  }
}

TEST(ParseKeyLifetime, ReadsLikeAtoiAndTurnsZeroInto366) {
  struct Case {
    std::string_view argument;
    int32_t days;
  };
  const Case kCases[] = {
      {"0", 366},
      {"x", 366},
      {"", 366},
      {"-5", -5},
      {"  42days", 42},
      {"+7", 7},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(ParseKeyLifetime(c.argument), c.days);
  }
}

}  // namespace
}  // namespace server
