#pragma once

// The arguments of TIME and SKLIFETIME, read the way the C library's scanf family reads them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/win_time.h"

namespace server {

// ParseTimeArgument reads "year-month-day[ hour[:minute[:second]]]" (missing time fields: 12:00:00)
// as a local calendar time. A day past the end of its month rolls into the next month. Returns
// nullopt when fewer than three date fields are read, a field is out of range (year 1970..9999,
// month 1..12, day 1..31, hour 0..23, minute and second 0..59), or the moment lies before
// 1970-01-01 00:00:00 UTC or after the end of the year 3000. The result has its day of week set
// and milliseconds 0.
std::optional<platform::SystemTime> ParseTimeArgument(std::string_view argument);

// TimeSetText formats `time` as "%A, %d %B %Y %H:%M:%S\r\n" in the C locale.
std::string TimeSetText(const platform::SystemTime& time);

// ParseKeyLifetime reads the leading decimal integer of `argument` (leading white space skipped,
// optional sign, no digits read as 0) and turns 0 into 366. Values beyond 32 bits saturate.
int32_t ParseKeyLifetime(std::string_view argument);

}  // namespace server
