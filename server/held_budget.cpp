#include "server/held_budget.h"

namespace server {

bool HeldBudget::Change(int64_t delta) {
  const uint64_t before = held.fetch_add(static_cast<uint64_t>(delta), std::memory_order_relaxed);
  return delta <= 0 || before + static_cast<uint64_t>(delta) <= limit;
}

bool HeldShare::Set(size_t count) {
  const int64_t delta = static_cast<int64_t>(count) - static_cast<int64_t>(bytes);
  bytes = count;
  return budget.Change(delta);
}

bool HeldAllowance::Take(size_t bytes) {
  if (bytes > maxBytes - taken || !share.Set(taken + bytes)) {
    (void)share.Set(taken);  // a refused growth is counted by Set; undo it
    return false;
  }
  taken += bytes;
  return true;
}

void HeldAllowance::Give(size_t bytes) {
  taken -= bytes;
  (void)share.Set(taken);
}

}  // namespace server
