#include "platform/base/pace_window.h"

namespace platform {
namespace {

// Samples are kept at most this many to a window, so a fast transfer that reports often keeps a
// handful of them, and the judged stretch is at most 1/kSamplesPerWindow longer than the window.
constexpr int kSamplesPerWindow = 16;

}  // namespace

PaceWindow::PaceWindow(uint64_t bytesPerSecond, std::chrono::milliseconds length,
                       Clock::time_point start)
    : floor(bytesPerSecond), window(length) {
  samples.push_back({start, 0});
}

bool PaceWindow::Note(Clock::time_point now, uint64_t total) {
  if (floor == 0 || window <= Clock::duration::zero()) return true;
  if (now - samples.back().at >= window / kSamplesPerWindow) samples.push_back({now, total});
  // Keep one sample at or before the window's start: the stretch judged begins there.
  while (samples.size() > 1 && samples[1].at <= now - window) samples.pop_front();
  const Sample& first = samples.front();
  if (now - first.at < window) return true;
  const double seconds = std::chrono::duration<double>(now - first.at).count();
  return static_cast<double>(total - first.total) >= static_cast<double>(floor) * seconds;
}

}  // namespace platform
