#pragma once

// HeldBudget bounds the memory that the block data of all connections of a server takes together
// (what is allocated for it, not only its bytes), so that many clients each within their own
// limit cannot exhaust the machine's memory between them.
// Each connection keeps its part in a HeldShare, which gives it back when the connection ends.
//
// Example:
//   HeldBudget budget(limits.maxHeldBytesTogether);
//   HeldShare share(budget);
//   if (!share.Set(session.HeldBytes())) return ConnectionEnd::kOverLimit;

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/base/memory_allowance.h"

namespace server {

class HeldBudget {
 public:
  explicit HeldBudget(uint64_t limitBytes) : limit(limitBytes) {}
  HeldBudget(const HeldBudget&) = delete;
  HeldBudget& operator=(const HeldBudget&) = delete;

  uint64_t Limit() const { return limit; }
  // Held is what the connections hold together now.
  uint64_t Held() const { return held.load(std::memory_order_relaxed); }

 private:
  friend class HeldShare;
  // Change adds `delta` (negative to give back); false when a growth leaves the total over the
  // limit. The growth is counted either way.
  bool Change(int64_t delta);

  std::atomic<uint64_t> held{0};
  const uint64_t limit;
};

class HeldShare {
 public:
  explicit HeldShare(HeldBudget& whole) : budget(whole) {}
  ~HeldShare() { (void)budget.Change(-static_cast<int64_t>(bytes)); }
  HeldShare(const HeldShare&) = delete;
  HeldShare& operator=(const HeldShare&) = delete;

  // Set makes this share `count` bytes; false when growing to it takes the budget past its limit.
  [[nodiscard]] bool Set(size_t count);

 private:
  HeldBudget& budget;
  size_t bytes = 0;
};

// HeldAllowance is what one request may take for what it decodes: at most `room` bytes, counted
// in `budget` with what the connections hold until the allowance goes.
class HeldAllowance final : public platform::MemoryAllowance {
 public:
  HeldAllowance(HeldBudget& budget, size_t room) : share(budget), maxBytes(room) {}
  bool Take(size_t bytes) override;
  void Give(size_t bytes) override;

 private:
  HeldShare share;
  const size_t maxBytes;
  size_t taken = 0;
};

}  // namespace server
