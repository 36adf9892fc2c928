#pragma once

// How the heap gives memory back to the system. The C library keeps what is freed in its pools for
// reuse, so after connections that held large blocks have ended, hundreds of MiB may stay resident
// with nothing in them.
//
// Example:
//   platform::MapLargeAllocations();  // at start-up
//   ...
//   platform::ReleaseFreeMemory();    // after a connection that held 100 MiB

#include <cstddef>

namespace platform {

// The server's threshold: data blocks (gathered in pieces of a MiB) and the bytes decoded from
// them are mapped, while the many small allocations of a request stay in the pools.
inline constexpr size_t kLargeAllocationBytes = size_t{1} << 20;

// MapLargeAllocations makes every allocation of `bytes` or more a mapping of its own, which goes
// back to the system as soon as it is freed. Otherwise the C library raises that threshold after
// the first large release (up to 32 MiB), and blocks below it stay in its pools. Call it at
// start-up, before other threads run. A sanitizer's allocator may ignore it.
void MapLargeAllocations(size_t bytes = kLargeAllocationBytes);

// ReleaseFreeMemory gives the free pages of every pool back to the system. It walks all of them,
// so it costs in proportion to the heap: call it after a large release, not after every request.
void ReleaseFreeMemory();

}  // namespace platform
