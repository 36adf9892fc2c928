#pragma once

// LruCache, a thread-safe map from text keys to values with two bounds: the number of entries and
// the bytes they stand for. Inserting past either bound drops the least recently used entries
// first. Used for what is kept between requests under keys that clients choose: downloads (CRLs,
// issuer certificates, keyed by their URLs) and decoded certificates (keyed by their bytes), so
// that no sequence of requests can grow a cache without limit.
//
// Example:
//   LruCache<std::shared_ptr<X509_CRL>> crls(128, size_t{192} << 20);
//   crls.Insert(url, crl, der.size());
//   if (std::optional<std::shared_ptr<X509_CRL>> hit = crls.Find(url)) ...

#include <cstddef>
#include <iterator>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/base/mutex.h"

namespace platform::detail {

template <typename Value>
class LruCache {
 public:
  // LruCache holds at most `entryLimit` entries whose sizes add up to at most `byteLimit`.
  LruCache(size_t entryLimit, size_t byteLimit) : maxEntries(entryLimit), maxBytes(byteLimit) {}
  LruCache(const LruCache&) = delete;
  LruCache& operator=(const LruCache&) = delete;

  // Find returns a copy of the value under `key` and makes it the most recently used entry, or
  // nullopt when the cache does not hold `key`.
  std::optional<Value> Find(const std::string& key) {
    const MutexLock lock(mutex);
    const auto found = index.find(key);
    if (found == index.end()) return std::nullopt;
    entries.splice(entries.begin(), entries, found->second);
    return found->second->value;
  }

  // Insert keeps `value`, which stands for `bytes` bytes, under `key` as the most recently used
  // entry, replacing what `key` held, then drops least recently used entries until both bounds
  // hold again. A value larger than the whole byte budget is not kept (and `key` is dropped).
  // The dropped values are destroyed after the lock is released: freeing one (a certificate
  // with its key, say) may take locks of its own and should not hold up the other threads.
  void Insert(const std::string& key, Value value, size_t bytes) {
    std::list<Entry> dropped;
    const MutexLock lock(mutex);
    if (const auto found = index.find(key); found != index.end()) Drop(found->second, dropped);
    if (bytes > maxBytes || maxEntries == 0) return;
    entries.push_front(Entry{key, std::move(value), bytes});
    index.emplace(key, entries.begin());
    heldBytes += bytes;
    while (entries.size() > maxEntries || heldBytes > maxBytes) {
      Drop(std::prev(entries.end()), dropped);
    }
  }

  // Size returns the number of entries held.
  size_t Size() const {
    const MutexLock lock(mutex);
    return entries.size();
  }

  // Bytes returns the sum of the sizes of the entries held.
  size_t Bytes() const {
    const MutexLock lock(mutex);
    return heldBytes;
  }

 private:
  struct Entry {
    std::string key;
    Value value;
    size_t bytes = 0;
  };

  // Drop moves `entry` out of the cache into `dropped`.
  void Drop(typename std::list<Entry>::iterator entry, std::list<Entry>& dropped) REQUIRES(mutex) {
    heldBytes -= entry->bytes;
    index.erase(entry->key);
    dropped.splice(dropped.end(), entries, entry);
  }

  const size_t maxEntries;
  const size_t maxBytes;
  mutable Mutex mutex;
  std::list<Entry> entries GUARDED_BY(mutex);  // most recently used first
  std::unordered_map<std::string, typename std::list<Entry>::iterator> index GUARDED_BY(mutex);
  size_t heldBytes GUARDED_BY(mutex) = 0;
};

}  // namespace platform::detail

namespace platform::detail {

// Downloads kept between requests share 256 entries and 256 MiB, counted in the bytes fetched:
// CRLs (up to 64 MiB each) get the larger part of the bytes, issuer certificates (bundles of up
// to 1 MiB) the rest.
inline constexpr size_t kCrlCacheEntries = 128;
inline constexpr size_t kCrlCacheBytes = size_t{192} << 20;
inline constexpr size_t kIssuerCacheEntries = 128;
inline constexpr size_t kIssuerCacheBytes = size_t{64} << 20;

}  // namespace platform::detail
