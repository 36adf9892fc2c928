#pragma once

// TmpCertArhive remembers chain-validation outcomes per certificate for a lifetime (60 seconds in
// production), shared by all connections of the server. A certificate is known by its serial
// number (bytes least significant first) and its issuer's encoded name; the request's options are
// not part of the key. An entry lives its lifetime from its first store, by the archive's clock
// (an entry exactly that old is still found); expired entries are removed while the archive is
// searched, and an index finds an entry without a walk. One lock serializes StoreItem and
// CheckItem.
//
// Example:
//   std::optional<Verdict> chain = archive.CheckItem(serial, issuer);
//   if (!chain) {
//     chain = ... validate ...;
//     archive.StoreItem(serial, issuer, *chain);
//   }

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/os/clock.h"
#include "verify/engine_limits.h"
#include "verify/verdict.h"

namespace verify {

class TmpCertArhive {
 public:
  // Logs "(%d) TmpCertArhive new". `clock` must outlive the archive; an entry lives
  // `lifetimeSeconds` after its first store.
  explicit TmpCertArhive(const platform::Clock& clock = platform::SystemClock(),
                         int64_t lifetimeSeconds = EngineLimits{}.archiveLifetime.count());
  // Frees every entry and logs "(%d) TmpCertArhive del".
  ~TmpCertArhive();
  TmpCertArhive(const TmpCertArhive&) = delete;
  TmpCertArhive& operator=(const TmpCertArhive&) = delete;

  // StoreItem records `verdict` for the key. Returns true when an entry with this key existed:
  // its verdict is replaced, its time of first store is kept.
  bool StoreItem(std::span<const uint8_t> serialNumber, std::span<const uint8_t> issuer,
                 Verdict verdict);

  // CheckItem returns the stored verdict when the key has a live entry, else nullopt.
  std::optional<Verdict> CheckItem(std::span<const uint8_t> serialNumber,
                                   std::span<const uint8_t> issuer);

  // Hits and Misses count the CheckItem calls that found a live entry and those that did not.
  uint64_t Hits() const { return hits.load(std::memory_order_relaxed); }
  uint64_t Misses() const { return misses.load(std::memory_order_relaxed); }

 private:
  using ByteBlob = std::vector<uint8_t>;
  struct ArchiveItem {
    int64_t storedAt;
    ByteBlob serialNumber;
    ByteBlob issuer;
    Verdict verdict;
  };

  // FindItem removes the entries older than `lifetime` from the front and returns the entry with
  // the key, or the end. Call only with `lock` held.
  std::list<ArchiveItem>::iterator FindItem(const ByteBlob& serialNumber, const ByteBlob& issuer);
  // Key is the index's key of a certificate.
  static std::string Key(const ByteBlob& serialNumber, const ByteBlob& issuer);

  const platform::Clock& clock;
  std::list<ArchiveItem> items;  // oldest first
  // Every entry of `items` under its key, so that a look-up does not walk the list.
  std::unordered_map<std::string, std::list<ArchiveItem>::iterator> index;
  const int64_t lifetime;  // seconds
  std::mutex lock;
  std::atomic<uint64_t> hits{0}, misses{0};
};

}  // namespace verify
