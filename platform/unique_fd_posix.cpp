#include <unistd.h>

#include "platform/unique_fd.h"

namespace platform {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);  // close is not retried on EINTR on Linux: the descriptor is gone
  fd_ = fd;
}

}  // namespace platform
