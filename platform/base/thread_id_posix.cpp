#include <unistd.h>

#include "platform/base/thread_id.h"

namespace platform {

uint32_t GetCurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(gettid());
  return id;
}

}  // namespace platform
