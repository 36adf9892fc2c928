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

ProgressBar::ProgressBar(uint64_t totalBytes, uint64_t threshold)
    : total(totalBytes), shown(totalBytes > threshold && isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  if (shown && percent >= 0) std::fputc('\n', stderr);
}

void ProgressBar::Show(uint64_t sent) {
  if (!shown || total == 0) return;
  const int reached = static_cast<int>(std::min<uint64_t>(sent, total) * 100 / total);
  if (reached == percent) return;
  percent = reached;
  const int filled = reached * kWidth / 100;
  std::fprintf(stderr, "\r[%s%s] %3d%% %.1f/%.1f MiB", std::string(filled, '#').c_str(),
               std::string(kWidth - filled, ' ').c_str(), reached, static_cast<double>(sent) / kMib,
               static_cast<double>(total) / kMib);
  std::fflush(stderr);
}

}  // namespace client
