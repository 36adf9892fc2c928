#pragma once

// Require is the fuzz targets' invariant check. Unlike assert it stays active in builds with
// NDEBUG, so the seed replay in the RelWithDebInfo test build checks the same invariants as the
// libFuzzer build; a broken invariant prints `what` and aborts, which both drivers report as a
// crash.
//
// Example:
//   Require(answer.ends_with("\r\n"), "every answer ends with CR LF");

#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace fuzz
