#include "verify/tmp_cert_arhive.h"

#include "platform/log.h"
#include "platform/thread_id.h"

namespace verify {
namespace {

using platform::ThreadId;

}  // namespace

TmpCertArhive::TmpCertArhive(const platform::Clock& timeSource, int64_t lifetimeSeconds)
    : clock(timeSource), lifetime(lifetimeSeconds) {
  platform::Log("(%d) TmpCertArhive new", ThreadId());
}

TmpCertArhive::~TmpCertArhive() {
  items.clear();
  platform::Log("(%d) TmpCertArhive del", ThreadId());
}

std::list<TmpCertArhive::ArchiveItem>::iterator TmpCertArhive::FindItem(
    const ByteBlob& serialNumber, const ByteBlob& issuer) {
  platform::Log("(%d) TmpCertArhive FindItem", ThreadId());
  const size_t countBefore = items.size();
  auto item = items.begin();
  while (item != items.end()) {
    const int64_t age = clock.Now() - item->storedAt;
    if (age > lifetime) {
      item = items.erase(item);
      continue;
    }
    if (item->serialNumber == serialNumber && item->issuer == issuer) {
      platform::Log("(%d) TmpCertArhive FindItem found", ThreadId());
      break;
    }
    ++item;
  }
  if (items.size() != countBefore) {
    platform::Log("(%d) TmpCertArhive FindItem del=%d", ThreadId(),
                  static_cast<int>(countBefore - items.size()));
  }
  return item;
}

bool TmpCertArhive::StoreItem(std::span<const uint8_t> serialNumber,
                              std::span<const uint8_t> issuer, Verdict verdict) {
  std::lock_guard<std::mutex> guard(lock);
  platform::Log("(%d) TmpCertArhive StoreItem", ThreadId());
  ByteBlob serial(serialNumber.begin(), serialNumber.end());
  ByteBlob issuerBlob(issuer.begin(), issuer.end());
  const auto item = FindItem(serial, issuerBlob);
  if (item != items.end()) {
    item->verdict = verdict;
    platform::Log("(%d) TmpCertArhive StoreItem exists", ThreadId());
    return true;
  }
  items.push_back(ArchiveItem{clock.Now(), std::move(serial), std::move(issuerBlob), verdict});
  platform::Log("(%d) TmpCertArhive StoreItem count=%d", ThreadId(),
                static_cast<int>(items.size()));
  return false;
}

std::optional<Verdict> TmpCertArhive::CheckItem(std::span<const uint8_t> serialNumber,
                                                std::span<const uint8_t> issuer) {
  std::lock_guard<std::mutex> guard(lock);
  platform::Log("(%d) TmpCertArhive CheckItem", ThreadId());
  const auto item = FindItem(ByteBlob(serialNumber.begin(), serialNumber.end()),
                             ByteBlob(issuer.begin(), issuer.end()));
  if (item == items.end()) {
    misses.fetch_add(1, std::memory_order_relaxed);
    return std::nullopt;
  }
  hits.fetch_add(1, std::memory_order_relaxed);
  return item->verdict;
}

}  // namespace verify
