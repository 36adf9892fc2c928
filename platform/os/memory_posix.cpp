#include <malloc.h>

#include <algorithm>
#include <climits>

#include "platform/os/memory.h"

namespace platform {

void MapLargeAllocations(size_t bytes) {
  // Setting the threshold also stops glibc from moving it on its own.
  (void)::mallopt(M_MMAP_THRESHOLD, static_cast<int>(std::min<size_t>(bytes, INT_MAX)));
}

void ReleaseFreeMemory() { (void)::malloc_trim(0); }

}  // namespace platform
