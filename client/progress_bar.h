#pragma once

// A progress bar on standard error for a large document while it is sent.

#include <cstdint>

namespace client {

class ProgressBar {
 public:
  // A bar is drawn only for more than `threshold` bytes and when standard error is a terminal.
  ProgressBar(uint64_t total, uint64_t threshold);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Show redraws the bar for `sent` bytes when its whole percentage has changed.
  void Show(uint64_t sent);

 private:
  uint64_t total;
  bool shown;
  int percent = -1;
};

}  // namespace client
