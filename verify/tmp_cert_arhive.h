#pragma once

// TmpCertArhive remembers chain-validation outcomes for a lifetime (60 seconds in production),
// shared by all connections of the server. An outcome is kept under the question it answers: a
// digest of the whole certificate, the certificates it travelled with and the options that
// change the verdict (see ChainQuestion), never under the certificate's issuer and serial number
// alone, which another certificate may carry. An entry lives its lifetime from its first store,
// by the archive's clock (an entry exactly that old is still found); expired entries are removed
// while the archive is searched, and past `maxEntries` the oldest go first. An index finds an
// entry without a walk. One lock serializes StoreItem and CheckItem.
//
// Example:
//   const ArchiveKey key = ChainQuestion{...}.Key();
//   std::optional<Verdict> chain = archive.CheckItem(key);
//   if (!chain) {
//     chain = ... validate ...;
//     archive.StoreItem(key, *chain);
//   }

#include <atomic>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/crypto/cert_context.h"
#include "platform/crypto/sha256.h"
#include "platform/base/mutex.h"
#include "platform/os/clock.h"
#include "verify/engine_limits.h"
#include "verify/verdict.h"

namespace verify {

using ArchiveKey = platform::Sha256Digest;

// ChainQuestion is what a chain verdict depends on besides the stores and the clock: the end
// certificate, the certificates it came with (the chain may take intermediates from them), the
// time it is judged at (0: now), whether revocation is checked, the private-key usage period
// (any negative number: none) and the extended-key-usage filter.
struct ChainQuestion {
  const platform::CertContext& certificate;
  uint64_t verifyTime = 0;
  bool checkRevocation = false;
  int32_t keyLifetimeDays = -1;
  std::string_view oidList = {};

  // Key is the SHA-256 of all of them together, the companions in the order of their digests.
  ArchiveKey Key() const;
};

class TmpCertArhive {
 public:
  // Logs "(%d) TmpCertArhive new". `clock` must outlive the archive; an entry lives
  // `lifetimeSeconds` after its first store, and at most `maxEntries` entries are kept.
  explicit TmpCertArhive(const platform::Clock& clock = platform::SystemClock(),
                         int64_t lifetimeSeconds = EngineLimits{}.archiveLifetime.count(),
                         size_t maxEntries = EngineLimits{}.archiveEntries);
  // Frees every entry and logs "(%d) TmpCertArhive del".
  ~TmpCertArhive();
  TmpCertArhive(const TmpCertArhive&) = delete;
  TmpCertArhive& operator=(const TmpCertArhive&) = delete;

  // StoreItem records `verdict` under `key`. Returns true when an entry with this key existed:
  // its verdict is replaced, its time of first store is kept. A new entry past `maxEntries`
  // pushes out the oldest.
  bool StoreItem(const ArchiveKey& key, Verdict verdict);

  // CheckItem returns the stored verdict when the key has a live entry, else nullopt.
  std::optional<Verdict> CheckItem(const ArchiveKey& key);

  // Hits and Misses count the CheckItem calls that found a live entry and those that did not.
  uint64_t Hits() const { return hits.load(std::memory_order_relaxed); }
  uint64_t Misses() const { return misses.load(std::memory_order_relaxed); }

 private:
  struct ArchiveItem {
    int64_t storedAt;
    std::string key;
    Verdict verdict;
  };

  // FindItem removes the entries older than `lifetime` from the front and returns the entry with
  // the key, or the end.
  std::list<ArchiveItem>::iterator FindItem(const std::string& key) REQUIRES(lock);

  const platform::Clock& clock;
  platform::Mutex lock;
  std::list<ArchiveItem> items GUARDED_BY(lock);  // oldest first
  // Every entry of `items` under its key, so that a look-up does not walk the list.
  std::unordered_map<std::string, std::list<ArchiveItem>::iterator> index GUARDED_BY(lock);
  const int64_t lifetime;  // seconds
  const size_t maxEntries;
  std::atomic<uint64_t> hits{0}, misses{0};
};

}  // namespace verify
