#include "platform/base/win_time.h"

#include <chrono>

namespace platform {

std::optional<uint64_t> SystemTimeToFileTime(const SystemTime& time) {
  using namespace std::chrono;
  if (time.year < 1601 || time.year > 30827 || time.hour > 23 || time.minute > 59 ||
      time.second > 59 || time.milliseconds > 999) {
    return std::nullopt;
  }
  const year_month_day date{year{time.year}, month{time.month}, day{time.day}};
  if (!date.ok()) return std::nullopt;
  const int64_t days = sys_days(date).time_since_epoch().count();
  const int64_t seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
  const int64_t unixTicks = seconds * 10000000 + int64_t{time.milliseconds} * 10000;
  return static_cast<uint64_t>(unixTicks + static_cast<int64_t>(kFileTimeUnixEpoch));
}

int64_t FileTimeToUnixSeconds(uint64_t fileTime) {
  const int64_t ticks = static_cast<int64_t>(fileTime / 10000000) -
                        static_cast<int64_t>(kFileTimeUnixEpoch / 10000000);
  return ticks;
}

std::optional<uint64_t> UnixSecondsToFileTime(int64_t seconds) {
  constexpr int64_t kEpochSeconds = static_cast<int64_t>(kFileTimeUnixEpoch / 10000000);
  constexpr int64_t kMaxSeconds = static_cast<int64_t>(UINT64_MAX / 10000000) - kEpochSeconds;
  if (seconds < -kEpochSeconds || seconds > kMaxSeconds) return std::nullopt;
  return static_cast<uint64_t>(seconds + kEpochSeconds) * 10000000;
}

}  // namespace platform
