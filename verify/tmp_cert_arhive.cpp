#include "verify/tmp_cert_arhive.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/base/log.h"
#include "platform/base/thread_id.h"

namespace verify {
namespace {

using platform::ThreadId;

std::string KeyText(const ArchiveKey& key) { return std::string(key.begin(), key.end()); }

void AppendNumber(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

ArchiveKey ChainQuestion::Key() const {
  std::vector<platform::Sha256Digest> companions;
  if (certificate.Companions()) {
    for (const auto& companion : *certificate.Companions()) {
      companions.push_back(companion->Sha256Hash());
    }
  }
  std::ranges::sort(companions);
  // Fields of fixed size first and the list last, so that no two questions read alike.
  std::vector<uint8_t> question(certificate.Sha256Hash().begin(), certificate.Sha256Hash().end());
  AppendNumber(question, companions.size(), 8);
  for (const platform::Sha256Digest& companion : companions) {
    question.insert(question.end(), companion.begin(), companion.end());
  }
  AppendNumber(question, verifyTime, 8);
  AppendNumber(question, checkRevocation ? 1 : 0, 1);
  AppendNumber(question, static_cast<uint32_t>(std::max(keyLifetimeDays, -1)), 4);
  question.insert(question.end(), oidList.begin(), oidList.end());
  return platform::Sha256(question);
}

TmpCertArhive::TmpCertArhive(const platform::Clock& timeSource, int64_t lifetimeSeconds,
                             size_t entryLimit)
    : clock(timeSource), lifetime(lifetimeSeconds), maxEntries(entryLimit) {
  platform::Log("(%d) TmpCertArhive new", ThreadId());
}

TmpCertArhive::~TmpCertArhive() {
  index.clear();
  items.clear();
  platform::Log("(%d) TmpCertArhive del", ThreadId());
}

std::list<TmpCertArhive::ArchiveItem>::iterator TmpCertArhive::FindItem(const std::string& key) {
  platform::Log("(%d) TmpCertArhive FindItem", ThreadId());
  // Entries are appended with the time of their store, so the expired ones are the front of the
  // list (while the clock does not go back); the key's entry is then found through the index.
  const size_t countBefore = items.size();
  const int64_t now = clock.Now();
  while (!items.empty() && now - items.front().storedAt > lifetime) {
    index.erase(items.front().key);
    items.pop_front();
  }
  auto item = items.end();
  if (const auto found = index.find(key); found != index.end()) {
    item = found->second;
    platform::Log("(%d) TmpCertArhive FindItem found", ThreadId());
  }
  if (items.size() != countBefore) {
    platform::Log("(%d) TmpCertArhive FindItem del=%d", ThreadId(),
                  static_cast<int>(countBefore - items.size()));
  }
  return item;
}

bool TmpCertArhive::StoreItem(const ArchiveKey& key, Verdict verdict) {
  const platform::MutexLock guard(lock);
  platform::Log("(%d) TmpCertArhive StoreItem", ThreadId());
  std::string text = KeyText(key);
  const auto item = FindItem(text);
  if (item != items.end()) {
    item->verdict = verdict;
    platform::Log("(%d) TmpCertArhive StoreItem exists", ThreadId());
    return true;
  }
  if (maxEntries == 0) return false;
  while (items.size() >= maxEntries) {
    index.erase(items.front().key);
    items.pop_front();
  }
  items.push_back(ArchiveItem{clock.Now(), text, verdict});
  index.emplace(std::move(text), std::prev(items.end()));
  platform::Log("(%d) TmpCertArhive StoreItem count=%d", ThreadId(),
                static_cast<int>(items.size()));
  return false;
}

std::optional<Verdict> TmpCertArhive::CheckItem(const ArchiveKey& key) {
  const platform::MutexLock guard(lock);
  platform::Log("(%d) TmpCertArhive CheckItem", ThreadId());
  const auto item = FindItem(KeyText(key));
  if (item == items.end()) {
    misses.fetch_add(1, std::memory_order_relaxed);
    return std::nullopt;
  }
  hits.fetch_add(1, std::memory_order_relaxed);
  return item->verdict;
}

}  // namespace verify
