#pragma once

// Calendar and file times as the Windows side of the system counts them.
//  - SystemTime is SYSTEMTIME: a broken-down calendar time with 16-bit fields.
//  - A FILETIME is a uint64_t of 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.

#include <cstdint>
#include <optional>

namespace platform {

struct SystemTime {
  uint16_t year = 0;  // 0 means "not set"
  uint16_t month = 0;
  uint16_t dayOfWeek = 0;  // 0 = Sunday
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

// Number of 100-ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

// SystemTimeToFileTime converts `time`, read as UTC, to a FILETIME. Returns nullopt, as Windows
// fails, when a field is out of range (month 1..12, day within the month, hour < 24, minute and
// second < 60, milliseconds < 1000) or the year is outside 1601..30827.
std::optional<uint64_t> SystemTimeToFileTime(const SystemTime& time);

// FileTimeToUnixSeconds returns whole seconds since 1970 (negative before it), rounding toward
// negative infinity.
int64_t FileTimeToUnixSeconds(uint64_t fileTime);

// UnixSecondsToFileTime returns the FILETIME of `seconds` since 1970, or nullopt before 1601.
std::optional<uint64_t> UnixSecondsToFileTime(int64_t seconds);

}  // namespace platform
