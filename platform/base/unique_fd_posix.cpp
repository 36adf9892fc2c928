#include <unistd.h>

#include "platform/base/unique_fd.h"

namespace platform {

void UniqueFd::reset(int next) {
  if (fd >= 0) ::close(fd);  // close is not retried on EINTR on Linux: the descriptor is gone
  fd = next;
}

}  // namespace platform
