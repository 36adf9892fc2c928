#include <atomic>
#include <string>

#include "platform/base/detail/lru_cache.h"
#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/cert_cache.h"
#include "platform/crypto/detail/decoded_size.h"

namespace platform {
namespace {

// The process cache's size, set before its first use.
std::atomic<size_t> processEntries{CertCache::kDefaultEntries};

std::string KeyOf(std::span<const uint8_t> der) { return std::string(der.begin(), der.end()); }

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

CertContextPtr CertCache::Find(std::span<const uint8_t> der) {
  if (std::optional<std::shared_ptr<const CertContext>> kept = entries->kept.Find(KeyOf(der))) {
    hits.fetch_add(1, std::memory_order_relaxed);
    return (*kept)->Duplicate();
  }
  misses.fetch_add(1, std::memory_order_relaxed);
  return nullptr;
}

void CertCache::Keep(const CertContext& cert) {
  if (!enabled) return;
  CertContextPtr kept = cert.Duplicate();
  kept->SetCompanions(nullptr);  // the certificates it came with are not the cache's to keep
  // Counted at what the decoded form takes, so that the byte bound holds for the memory itself.
  entries->kept.Insert(KeyOf(cert.Encoded()), std::move(kept),
                       detail::DecodedSizeEstimate(cert.Encoded()));
}

CertContextPtr CertCache::Get(std::span<const uint8_t> der, MemoryAllowance* allowance) {
  if (CertContextPtr kept = Find(der)) return kept;
  MemoryTake take(allowance, detail::DecodedSizeEstimate(der));
  if (!take.Taken()) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  CertContextPtr decoded = CertContext::Create(der);
  if (!decoded) return nullptr;
  take.Keep();
  Keep(*decoded);
  return decoded;
}

size_t CertCache::Size() const { return entries->kept.Size(); }

}  // namespace platform
