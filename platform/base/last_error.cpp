#include "platform/base/last_error.h"

namespace platform {
namespace {
thread_local uint32_t lastError = 0;
}  // namespace

uint32_t GetLastError() { return lastError; }

void SetLastError(uint32_t code) { lastError = code; }

}  // namespace platform
