#pragma once

// Verdict is the outcome of one check of the engine: passed or not, and the status code that
// reaches the client (0 when passed, or the chain's trust error bits). Must-use: a check whose
// verdict nobody reads is a bug.
//
// Example:
//   const Verdict chain = VerifyChain();
//   if (!chain.ok) Log("%08x", chain.status);

#include <cstdint>

namespace verify {

struct [[nodiscard]] Verdict {
  bool ok = false;
  uint32_t status = 0;

  static constexpr Verdict Passed(uint32_t status = 0) { return {true, status}; }
  static constexpr Verdict Failed(uint32_t status) { return {false, status}; }
  bool operator==(const Verdict&) const = default;
};

}  // namespace verify
