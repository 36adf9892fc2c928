#pragma once

#include <cstdint>

namespace platform {

// GetCurrentThreadId returns the kernel's identifier of the calling thread (gettid), the number the
// log lines carry.
uint32_t GetCurrentThreadId();

// ThreadId is GetCurrentThreadId as an int, for the "(%d)" that opens the server's log texts.
inline int ThreadId() { return static_cast<int>(GetCurrentThreadId()); }

}  // namespace platform
