#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "platform/os/socket_wait.h"

namespace platform {

WaitResult WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return WaitResult::kTimedOut;
    pollfd waiter{fd, POLLIN, 0};
    const int ready =
        ::poll(&waiter, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (ready > 0) return WaitResult::kReady;
    if (ready < 0 && errno != EINTR) return WaitResult::kFailed;
  }
}

}  // namespace platform
