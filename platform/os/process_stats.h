#pragma once

// File: what the system knows of this process, as the standard process metrics show it: memory,
// descriptors, start time and CPU time. Read from /proc/self, which a service sandboxed to its
// own processes (ProcSubset=pid) still sees.

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

struct ProcessStats {
  uint64_t residentBytes = 0;
  uint64_t virtualBytes = 0;
  uint64_t openFds = 0;
  uint64_t maxFds = 0;          // the soft limit on descriptors
  double startTimeSeconds = 0;  // since the Unix epoch
  double cpuSeconds = 0;        // user and system
};

// ReadProcessStats returns this process's figures; nullopt when /proc/self cannot be read.
std::optional<ProcessStats> ReadProcessStats();

// ProcStatTimes are the fields of a /proc/<pid>/stat line that ReadProcessStats takes, in the
// kernel's units: clock ticks and pages.
struct ProcStatTimes {
  uint64_t userTicks = 0;
  uint64_t systemTicks = 0;
  uint64_t startTicks = 0;  // since boot
  uint64_t virtualBytes = 0;
  uint64_t residentPages = 0;
};

// ParseProcStat reads a /proc/<pid>/stat line. The command name in parentheses may hold blanks
// and parentheses itself, so the fields are counted from the last ')'. Returns nullopt for a line
// of another shape.
std::optional<ProcStatTimes> ParseProcStat(std::string_view line);

}  // namespace platform
