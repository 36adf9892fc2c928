#include "verify/tmp_cert_arhive.h"

#include <iterator>

#include "platform/base/log.h"
#include "platform/base/thread_id.h"

namespace verify {
namespace {

using platform::ThreadId;

}  // namespace

TmpCertArhive::TmpCertArhive(const platform::Clock& timeSource, int64_t lifetimeSeconds)
    : clock(timeSource), lifetime(lifetimeSeconds) {
  platform::Log("(%d) TmpCertArhive new", ThreadId());
}

TmpCertArhive::~TmpCertArhive() {
  index.clear();
  items.clear();
  platform::Log("(%d) TmpCertArhive del", ThreadId());
}

std::string TmpCertArhive::Key(const ByteBlob& serialNumber, const ByteBlob& issuer) {
  // The issuer's DER name carries its own length, so the serial number cannot run into it.
  std::string key(issuer.begin(), issuer.end());
  key.append(serialNumber.begin(), serialNumber.end());
  return key;
}

std::list<TmpCertArhive::ArchiveItem>::iterator TmpCertArhive::FindItem(
    const ByteBlob& serialNumber, const ByteBlob& issuer) {
  platform::Log("(%d) TmpCertArhive FindItem", ThreadId());
  // Entries are appended with the time of their store, so the expired ones are the front of the
  // list (while the clock does not go back); the key's entry is then found through the index.
  const size_t countBefore = items.size();
  const int64_t now = clock.Now();
  while (!items.empty() && now - items.front().storedAt > lifetime) {
    index.erase(Key(items.front().serialNumber, items.front().issuer));
    items.pop_front();
  }
  auto item = items.end();
  if (const auto found = index.find(Key(serialNumber, issuer)); found != index.end()) {
    item = found->second;
    platform::Log("(%d) TmpCertArhive FindItem found", ThreadId());
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
  std::string key = Key(serial, issuerBlob);
  items.push_back(ArchiveItem{clock.Now(), std::move(serial), std::move(issuerBlob), verdict});
  index.emplace(std::move(key), std::prev(items.end()));
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
