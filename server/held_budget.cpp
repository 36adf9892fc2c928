#include "server/held_budget.h"

#include "server/environment.h"

namespace server {
namespace {

constexpr uint64_t kDefaultLimitMib = 2048;

uint64_t LimitFromEnvironment() {
  uint64_t mib = WholeNumberFromEnvironment("QUILMAREND_MAX_HELD_MIB");
  // Past 2^44 MiB the byte count would overflow; such a limit is no limit anyway.
  if (mib == 0 || mib > (uint64_t{1} << 44)) mib = kDefaultLimitMib;
  return mib << 20;
}

}  // namespace

HeldBudget& HeldBudget::Process() {
  static auto* budget = new HeldBudget(LimitFromEnvironment());  // outlives every connection
  return *budget;
}

bool HeldBudget::Change(int64_t delta) {
  const uint64_t before = held.fetch_add(static_cast<uint64_t>(delta), std::memory_order_relaxed);
  return delta <= 0 || before + static_cast<uint64_t>(delta) <= limit;
}

bool HeldShare::Set(size_t count) {
  const int64_t delta = static_cast<int64_t>(count) - static_cast<int64_t>(bytes);
  bytes = count;
  return budget.Change(delta);
}

}  // namespace server
