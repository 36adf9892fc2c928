#pragma once

// CertCache keeps decoded certificates by their encoding, so that a certificate seen again (the
// signer of message after message, the certificate a client sends with every XML check) is not
// decoded again: decoding parses every field and the public key, which for a GOST key goes
// through the engine and its global lock. A context handed out shares the kept certificate's
// decoded fields, key and texts. Bounded by entries and by bytes, least recently used out; safe
// to use from every thread.
//
// Example:
//   CertContextPtr signer = CertCache::Process().Get(der);

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/crypto/cert_context.h"

namespace platform {

class CertCache {
 public:
  // A cache of at most `maxEntries` certificates standing for at most `maxBytes`; 0 entries keeps
  // none (every Get decodes).
  CertCache(size_t maxEntries, size_t maxBytes);
  ~CertCache();
  CertCache(const CertCache&) = delete;
  CertCache& operator=(const CertCache&) = delete;

  // Process returns the cache the checks of the process share: at most the entries
  // SetProcessEntries gave before the first call (kDefaultEntries when it was not called; 0 turns
  // the cache off) and at most kDefaultBytes.
  static CertCache& Process();
  // SetProcessEntries sets the size of the process's cache; call it at start-up, before Process.
  static void SetProcessEntries(size_t maxEntries);
  static constexpr size_t kDefaultEntries = 1024;
  static constexpr size_t kDefaultBytes = size_t{16} << 20;

  // Get returns a context of the certificate `der` encodes, decoding it and keeping it on a miss;
  // null with the last error set when `der` is no certificate (as CertContext::Create).
  CertContextPtr Get(std::span<const uint8_t> der);

  // Enabled is false for a cache that keeps nothing.
  bool Enabled() const { return enabled; }
  uint64_t Hits() const { return hits.load(std::memory_order_relaxed); }
  uint64_t Misses() const { return misses.load(std::memory_order_relaxed); }
  size_t Size() const;

 private:
  struct Entries;
  std::unique_ptr<Entries> entries;
  const bool enabled;
  std::atomic<uint64_t> hits{0}, misses{0};
};

}  // namespace platform
