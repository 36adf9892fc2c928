#include <atomic>
#include <string>

#include "platform/base/detail/lru_cache.h"
#include "platform/crypto/cert_cache.h"

namespace platform {
namespace {

// What a kept certificate stands for: its encoding and the decoded structures, about three
// times as large, and its texts.
size_t EntryBytes(std::span<const uint8_t> der) { return der.size() * 4 + 1024; }

// The process cache's size, set before its first use.
std::atomic<size_t> processEntries{CertCache::kDefaultEntries};

}  // namespace

struct CertCache::Entries {
  Entries(size_t maxEntries, size_t maxBytes) : kept(maxEntries, maxBytes) {}
  detail::LruCache<std::shared_ptr<const CertContext>> kept;
};

CertCache::CertCache(size_t maxEntries, size_t maxBytes)
    : entries(std::make_unique<Entries>(maxEntries, maxBytes)), enabled(maxEntries > 0) {}

CertCache::~CertCache() = default;

void CertCache::SetProcessEntries(size_t maxEntries) { processEntries = maxEntries; }

CertCache& CertCache::Process() {
  static auto* cache = new CertCache(processEntries.load(), kDefaultBytes);  // never freed
  return *cache;
}

CertContextPtr CertCache::Get(std::span<const uint8_t> der) {
  const std::string key(der.begin(), der.end());
  if (std::optional<std::shared_ptr<const CertContext>> kept = entries->kept.Find(key)) {
    hits.fetch_add(1, std::memory_order_relaxed);
    return (*kept)->Duplicate();
  }
  misses.fetch_add(1, std::memory_order_relaxed);
  CertContextPtr decoded = CertContext::Create(der);
  if (!decoded) return nullptr;
  CertContextPtr handed = decoded->Duplicate();
  entries->kept.Insert(key, std::shared_ptr<const CertContext>(std::move(decoded)),
                       EntryBytes(der));
  return handed;
}

size_t CertCache::Size() const { return entries->kept.Size(); }

}  // namespace platform
