#include <openssl/err.h>
#include <openssl/ocsp.h>
#include <openssl/pem.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/detail/lru_cache.h"
#include "platform/crypto/chain.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/revocation.h"
#include "platform/crypto/revocation_counts.h"
#include "platform/os/inet.h"

namespace platform {
namespace {

// Download outcomes, indexed by FetchOutcome.
std::atomic<uint64_t> crlFetches[kFetchOutcomes];
std::atomic<uint64_t> ocspFetches[kFetchOutcomes];

void Count(std::atomic<uint64_t> (&counts)[kFetchOutcomes], FetchOutcome outcome) {
  counts[static_cast<int>(outcome)].fetch_add(1, std::memory_order_relaxed);
}

// Counted counts `outcome` and returns `result`, so that a return states both.
template <class T>
T Counted(std::atomic<uint64_t> (&counts)[kFetchOutcomes], FetchOutcome outcome, T result) {
  Count(counts, outcome);
  return result;
}

}  // namespace

RevocationFetchCounts RevocationFetches() {
  RevocationFetchCounts counts;
  for (int i = 0; i < kFetchOutcomes; ++i) {
    counts.crl[i] = crlFetches[i].load(std::memory_order_relaxed);
    counts.ocsp[i] = ocspFetches[i].load(std::memory_order_relaxed);
  }
  return counts;
}

}  // namespace platform

namespace platform::detail {
namespace {

constexpr uint32_t kOffline =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
constexpr size_t kMaxCrlBytes = size_t{64} << 20;
constexpr long kOcspClockSkewSeconds = 300;

time_t TimeOf(const ASN1_TIME* time) {
  std::tm broken{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &broken) != 1) return 0;
  return timegm(&broken);
}

std::vector<std::string> HttpUrls(const GENERAL_NAMES* names) {
  std::vector<std::string> urls;
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names); ++i) {
    std::string url = HttpUrl(sk_GENERAL_NAME_value(names, i));
    if (!url.empty()) urls.push_back(std::move(url));
  }
  return urls;
}

// A CRL as fetched from one distribution point, kept until its nextUpdate.
struct CachedCrl {
  std::shared_ptr<X509_CRL> crl;
  time_t nextUpdate = 0;
};

// CrlCache holds CRLs by URL, least recently used out past its share of the download budget.
LruCache<CachedCrl>& CrlCache() {
  static auto* cache = new LruCache<CachedCrl>(kCrlCacheEntries, kCrlCacheBytes);  // never freed
  return *cache;
}

std::shared_ptr<X509_CRL> ParseCrl(const std::vector<uint8_t>& bytes) {
  const unsigned char* p = bytes.data();
  X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(bytes.size()));
  if (crl == nullptr) {
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (bio) crl = PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr);
  }
  ERR_clear_error();
  return std::shared_ptr<X509_CRL>(crl, X509_CRL_free);
}

// UsableCrl returns the CRL of `url` signed by `issuer` and not past its nextUpdate, from the
// cache when it is still current there, else downloaded.
std::shared_ptr<X509_CRL> UsableCrl(const std::string& url, X509* issuer,
                                    const ChainParameters& parameters) {
  const time_t now = static_cast<time_t>(parameters.clock->Now());
  const std::optional<CachedCrl> cached = CrlCache().Find(url);
  if (cached && cached->nextUpdate > now &&
      X509_NAME_cmp(X509_CRL_get_issuer(cached->crl.get()), X509_get_subject_name(issuer)) == 0) {
    return cached->crl;
  }
  InternetRequest request;
  request.url = url;
  request.timeoutMs = parameters.urlRetrievalTimeoutMs;
  request.maxBytes = kMaxCrlBytes;
  const std::optional<std::vector<uint8_t>> bytes = parameters.internet->Fetch(request);
  if (!bytes) return Counted(crlFetches, FetchOutcome::kFailed, nullptr);
  std::shared_ptr<X509_CRL> crl = ParseCrl(*bytes);
  if (!crl) return Counted(crlFetches, FetchOutcome::kInvalid, nullptr);
  EVP_PKEY* issuerKey = X509_get0_pubkey(issuer);
  const bool signedByIssuer =
      X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_subject_name(issuer)) == 0 &&
      issuerKey != nullptr && X509_CRL_verify(crl.get(), issuerKey) == 1;
  ERR_clear_error();
  const time_t nextUpdate = TimeOf(X509_CRL_get0_nextUpdate(crl.get()));
  if (!signedByIssuer || nextUpdate <= now) {
    return Counted(crlFetches, FetchOutcome::kInvalid, nullptr);
  }
  CrlCache().Insert(url, CachedCrl{crl, nextUpdate}, bytes->size());
  return Counted(crlFetches, FetchOutcome::kOk, std::move(crl));
}

// CrlUrls returns the http and https URLs of `cert`'s CRL distribution points.
std::vector<std::string> CrlUrls(X509* cert) {
  CrlDistPointsPtr points(static_cast<CRL_DIST_POINTS*>(
      X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
  std::vector<std::string> urls;
  for (int i = 0; points && i < sk_DIST_POINT_num(points.get()); ++i) {
    const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
    if (point->distpoint == nullptr || point->distpoint->type != 0) continue;  // full names only
    for (std::string& url : HttpUrls(point->distpoint->name.fullname))
      urls.push_back(std::move(url));
  }
  ERR_clear_error();
  return urls;
}

// CrlStatus judges `cert` by the first CRL of `urls` that can be fetched and verified: 0,
// CERT_TRUST_IS_REVOKED, or kOffline when none can.
uint32_t CrlStatus(X509* cert, X509* issuer, const std::vector<std::string>& urls, time_t at,
                   const ChainParameters& parameters) {
  if (issuer == nullptr) return kOffline;
  for (const std::string& url : urls) {
    const std::shared_ptr<X509_CRL> crl = UsableCrl(url, issuer, parameters);
    if (!crl) continue;
    X509_REVOKED* revoked = nullptr;
    if (X509_CRL_get0_by_cert(crl.get(), &revoked, cert) == 1 &&
        TimeOf(X509_REVOKED_get0_revocationDate(revoked)) <= at) {
      return CERT_TRUST_IS_REVOKED;
    }
    return CERT_TRUST_NO_ERROR;
  }
  return kOffline;
}

// OcspCurrent is OCSP_check_validity without an age limit, at the clock's `now`: thisUpdate no
// later than `now` plus the allowed skew, nextUpdate (when there is one) later than `now` less the
// skew and not before thisUpdate.
bool OcspCurrent(ASN1_GENERALIZEDTIME* thisUpdate, ASN1_GENERALIZEDTIME* nextUpdate, time_t now) {
  time_t latest = now + kOcspClockSkewSeconds;
  if (thisUpdate == nullptr || ASN1_GENERALIZEDTIME_check(thisUpdate) != 1 ||
      X509_cmp_time(thisUpdate, &latest) > 0) {
    return false;
  }
  if (nextUpdate == nullptr) return true;
  time_t earliest = now - kOcspClockSkewSeconds;
  return ASN1_GENERALIZEDTIME_check(nextUpdate) == 1 && X509_cmp_time(nextUpdate, &earliest) >= 0 &&
         ASN1_STRING_cmp(nextUpdate, thisUpdate) >= 0;
}

uint32_t OcspStatus(X509* cert, X509* issuer, const std::string& url, time_t at,
                    const ChainParameters& parameters) {
  if (issuer == nullptr) return kOffline;
  OcspCertIdPtr id(OCSP_cert_to_id(EVP_sha1(), cert, issuer));
  OcspRequestPtr request(OCSP_REQUEST_new());
  if (!id || !request) return kOffline;
  OCSP_CERTID* requestId = OCSP_CERTID_dup(id.get());
  if (requestId == nullptr || OCSP_request_add0_id(request.get(), requestId) == nullptr) {
    OCSP_CERTID_free(requestId);
    return kOffline;
  }
  unsigned char* der = nullptr;
  const int derLength = i2d_OCSP_REQUEST(request.get(), &der);
  if (derLength <= 0) return kOffline;
  InternetRequest http;
  http.url = url;
  http.timeoutMs = parameters.urlRetrievalTimeoutMs;
  http.post = true;
  http.contentType = "application/ocsp-request";
  http.body.assign(der, der + derLength);
  http.maxBytes = kMaxCrlBytes;
  OPENSSL_free(der);
  const std::optional<std::vector<uint8_t>> answer = parameters.internet->Fetch(http);
  if (!answer) return Counted(ocspFetches, FetchOutcome::kFailed, kOffline);

  const unsigned char* p = answer->data();
  OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(answer->size())));
  if (!response || OCSP_response_status(response.get()) != OCSP_RESPONSE_STATUS_SUCCESSFUL) {
    ERR_clear_error();
    return Counted(ocspFetches, FetchOutcome::kInvalid, kOffline);
  }
  OcspBasicResponsePtr basic(OCSP_response_get1_basic(response.get()));
  // The answer must be signed by the issuer itself or by a responder the issuer delegated to.
  X509StackPtr trusted(sk_X509_new_null());
  X509StorePtr store(X509_STORE_new());
  if (!basic || !trusted || !store || sk_X509_push(trusted.get(), issuer) <= 0) {
    return Counted(ocspFetches, FetchOutcome::kInvalid, kOffline);
  }
  X509_up_ref(issuer);
  X509_STORE_add_cert(store.get(), issuer);
  X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
  const bool verified =
      OCSP_basic_verify(basic.get(), trusted.get(), store.get(), OCSP_TRUSTOTHER) == 1;
  int status = V_OCSP_CERTSTATUS_UNKNOWN;
  int reason = 0;
  ASN1_GENERALIZEDTIME* revokedAt = nullptr;
  ASN1_GENERALIZEDTIME* thisUpdate = nullptr;
  ASN1_GENERALIZEDTIME* nextUpdate = nullptr;
  const bool found = verified && OCSP_resp_find_status(basic.get(), id.get(), &status, &reason,
                                                       &revokedAt, &thisUpdate, &nextUpdate) == 1;
  const bool current =
      found && OcspCurrent(thisUpdate, nextUpdate, static_cast<time_t>(parameters.clock->Now()));
  ERR_clear_error();
  if (!current) return Counted(ocspFetches, FetchOutcome::kInvalid, kOffline);
  Count(ocspFetches, FetchOutcome::kOk);
  switch (status) {
    case V_OCSP_CERTSTATUS_GOOD:
      return CERT_TRUST_NO_ERROR;
    case V_OCSP_CERTSTATUS_REVOKED:
      return TimeOf(revokedAt) <= at ? CERT_TRUST_IS_REVOKED : CERT_TRUST_NO_ERROR;
    default:
      return CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
  }
}

}  // namespace

uint32_t RevocationStatus(X509* cert, X509* issuer, time_t at, const ChainParameters& parameters) {
  // A good or revoked OCSP answer decides alone. Any other outcome (no responder reached, an
  // unsuccessful response status, "unknown", a stale or wrongly signed answer) falls back to the
  // CRLs, as CryptoAPI's revocation provider does; the result is offline only when they fail too.
  std::optional<uint32_t> ocspFailure;
  OpenSslStringStackPtr responders(X509_get1_ocsp(cert));
  for (int i = 0; responders && i < sk_OPENSSL_STRING_num(responders.get()); ++i) {
    const std::string url = sk_OPENSSL_STRING_value(responders.get(), i);
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) continue;
    const uint32_t status = OcspStatus(cert, issuer, url, at, parameters);
    if (status == CERT_TRUST_NO_ERROR || status == CERT_TRUST_IS_REVOKED) return status;
    ocspFailure = status;
  }
  const std::vector<std::string> urls = CrlUrls(cert);
  if (!urls.empty()) return CrlStatus(cert, issuer, urls, at, parameters);
  // Without distribution points the responder's failure stands.
  return ocspFailure.value_or(CERT_TRUST_REVOCATION_STATUS_UNKNOWN);
}

}  // namespace platform::detail
