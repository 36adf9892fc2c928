#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/os/process_stats.h"

namespace platform {
namespace {

double Seconds(const timespec& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

uint64_t CountOpenFds() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return 0;
  uint64_t count = 0;
  while (const dirent* entry = readdir(folder)) count += entry->d_name[0] != '.';
  closedir(folder);
  return count > 0 ? count - 1 : 0;  // the listing's own descriptor
}

}  // namespace

std::optional<ProcStatTimes> ParseProcStat(std::string_view line) {
  const size_t close = line.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  // After the name: state (3), then fields 4 on; utime is 14, stime 15, starttime 22, vsize 23,
  // rss 24.
  std::string_view rest = line.substr(close + 1);
  uint64_t fields[25] = {};
  int field = 3;
  while (field <= 24) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty()) return std::nullopt;
    const size_t end = std::min(rest.find(' '), rest.size());
    if (field >= 4) {
      // Some fields may be negative (priority, nice); none of those read here is.
      std::from_chars(rest.data(), rest.data() + end, fields[field]);
    }
    rest.remove_prefix(end);
    ++field;
  }
  return ProcStatTimes{fields[14], fields[15], fields[22], fields[23], fields[24]};
}

std::optional<ProcessStats> ReadProcessStats() {
  std::ifstream file("/proc/self/stat");
  const std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::optional<ProcStatTimes> times = ParseProcStat(line);
  if (!times) return std::nullopt;
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
  // The boot time from the two clocks: /proc/stat, which names it, is hidden from a sandboxed
  // service.
  timespec now{}, sinceBoot{};
  clock_gettime(CLOCK_REALTIME, &now);
  clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
  ProcessStats stats;
  stats.residentBytes = static_cast<uint64_t>(static_cast<double>(times->residentPages) * page);
  stats.virtualBytes = times->virtualBytes;
  stats.openFds = CountOpenFds();
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) stats.maxFds = limit.rlim_cur;
  stats.startTimeSeconds =
      Seconds(now) - Seconds(sinceBoot) + static_cast<double>(times->startTicks) / ticks;
  stats.cpuSeconds = static_cast<double>(times->userTicks + times->systemTicks) / ticks;
  return stats;
}

}  // namespace platform
