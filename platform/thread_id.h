#pragma once

// GetCurrentThreadId returns the kernel's identifier of the calling thread (gettid), the number the
// log lines carry.
#include <cstdint>

namespace platform {
uint32_t GetCurrentThreadId();
}  // namespace platform
