#include "client/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace client {
namespace {

constexpr int kWidth = 40;
constexpr double kMib = 1024.0 * 1024.0;

}  // namespace

ProgressBar::ProgressBar(uint64_t total, uint64_t threshold)
    : total_(total), shown_(total > threshold && isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  if (shown_ && percent_ >= 0) std::fputc('\n', stderr);
}

void ProgressBar::Show(uint64_t sent) {
  if (!shown_ || total_ == 0) return;
  const int percent = static_cast<int>(std::min<uint64_t>(sent, total_) * 100 / total_);
  if (percent == percent_) return;
  percent_ = percent;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "\r[%s%s] %3d%% %.1f/%.1f MiB", std::string(filled, '#').c_str(),
               std::string(kWidth - filled, ' ').c_str(), percent, static_cast<double>(sent) / kMib,
               static_cast<double>(total_) / kMib);
  std::fflush(stderr);
}

}  // namespace client
