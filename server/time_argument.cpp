#include "server/time_argument.h"

#include <locale.h>

#include <algorithm>
#include <climits>
#include <ctime>

namespace server {
namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// ScanReader walks a text the way sscanf does; a NUL byte ends the text as it ends a C string.
class ScanReader {
 public:
  explicit ScanReader(std::string_view whole) : text(whole.substr(0, whole.find('\0'))) {}

  void SkipSpace() {
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
  }

  // Integer reads a %d conversion: white space, an optional sign, one or more digits.
  std::optional<int> Integer() {
    SkipSpace();
    size_t at = pos;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      negative = text[at] == '-';
      ++at;
    }
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return std::nullopt;
    int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      value = std::min<int64_t>(value * 10 + (text[at] - '0'), int64_t{INT_MAX} + 1);
    }
    pos = at;
    if (negative) return static_cast<int>(-value);
    return static_cast<int>(std::min<int64_t>(value, INT_MAX));
  }

  // Literal matches one exact character, as a non-space format character does.
  bool Literal(char c) {
    if (pos < text.size() && text[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }

 private:
  std::string_view text;
  size_t pos = 0;
};

// The last second the 64-bit C time functions cover: 3000-12-31 23:59:59 UTC.
constexpr time_t kLastSupportedSecond = 32535215999;

locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

std::optional<platform::SystemTime> ParseTimeArgument(std::string_view argument) {
  // Fields of "%d-%d-%d %d:%d:%d", with their defaults.
  int fields[6] = {0, 0, 0, 12, 0, 0};
  const char separators[6] = {0, '-', '-', ' ', ':', ':'};
  ScanReader reader(argument);
  int read = 0;
  for (int i = 0; i < 6; ++i) {
    if (separators[i] == ' ') {
      reader.SkipSpace();
    } else if (separators[i] != 0 && !reader.Literal(separators[i])) {
      break;
    }
    const std::optional<int> value = reader.Integer();
    if (!value) break;
    fields[i] = *value;
    ++read;
  }
  const auto [year, month, day, hour, minute, second] = fields;
  if (read < 3 || year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;  // the C library decides daylight saving time
  const time_t moment = std::mktime(&local);
  if (moment < 0 || moment > kLastSupportedSecond) return std::nullopt;
  platform::SystemTime time;
  time.year = static_cast<uint16_t>(local.tm_year + 1900);
  time.month = static_cast<uint16_t>(local.tm_mon + 1);
  time.dayOfWeek = static_cast<uint16_t>(local.tm_wday);
  time.day = static_cast<uint16_t>(local.tm_mday);
  time.hour = static_cast<uint16_t>(local.tm_hour);
  time.minute = static_cast<uint16_t>(local.tm_min);
  time.second = static_cast<uint16_t>(local.tm_sec);
  return time;
}

std::string TimeSetText(const platform::SystemTime& time) {
  std::tm broken{};
  broken.tm_year = time.year - 1900;
  broken.tm_mon = time.month - 1;
  broken.tm_wday = time.dayOfWeek;
  broken.tm_mday = time.day;
  broken.tm_hour = time.hour;
  broken.tm_min = time.minute;
  broken.tm_sec = time.second;
  char text[128];
  const size_t length =
      strftime_l(text, sizeof text, "%A, %d %B %Y %H:%M:%S\r\n", &broken, CLocale());
  return std::string(text, length);
}

int32_t ParseKeyLifetime(std::string_view argument) {
  ScanReader reader(argument);
  const int value = reader.Integer().value_or(0);
  return value == 0 ? 366 : value;
}

}  // namespace server
