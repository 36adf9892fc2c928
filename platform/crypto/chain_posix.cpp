#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509_vfy.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/detail/lru_cache.h"
#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/base/win_time.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/chain.h"
#include "platform/crypto/crypto_library.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/handles.h"
#include "platform/crypto/detail/revocation.h"
#include "platform/crypto/detail/verify_context.h"
#include "platform/os/inet.h"

namespace platform {
namespace {

using detail::NativeX509;

constexpr int kMaxFetchedIssuers = 8;
constexpr size_t kMaxIssuerBytes = size_t{1} << 20;
constexpr time_t kIssuerCacheSeconds = 3600;

// TrustBit maps one OpenSSL verification error to the CERT_TRUST_* bit CryptoAPI sets for it.
uint32_t TrustBit(int error) {
  switch (error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return CERT_TRUST_IS_NOT_TIME_VALID;
    case X509_V_ERR_CERT_REVOKED:
      return CERT_TRUST_IS_REVOKED;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
      return CERT_TRUST_IS_UNTRUSTED_ROOT;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
      return CERT_TRUST_IS_PARTIAL_CHAIN;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_INVALID_PURPOSE:
      return CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
      return CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
    case X509_V_ERR_INVALID_EXTENSION:
      return CERT_TRUST_INVALID_EXTENSION;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
      return CERT_TRUST_INVALID_NAME_CONSTRAINTS;
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
    case X509_V_ERR_NO_EXPLICIT_POLICY:
      return CERT_TRUST_INVALID_POLICY_CONSTRAINTS;
    default:
      // Signature failures, undecodable keys and whatever else keeps a certificate from being
      // verified by its issuer.
      return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
  }
}

// Collects every error of the verification instead of stopping at the first, as CryptoAPI
// reports all of them together.
int CollectErrors(int ok, X509_STORE_CTX* context) {
  if (!ok) {
    auto* bits = static_cast<uint32_t*>(X509_STORE_CTX_get_app_data(context));
    *bits |= TrustBit(X509_STORE_CTX_get_error(context));
  }
  return 1;
}

bool AddCollection(X509_STORE* store, STACK_OF(X509) * stack, const CertCollection& certs) {
  for (const auto& cert : certs) {
    X509* x509 = NativeX509(*cert);
    if (store != nullptr) {
      X509_STORE_add_cert(store, x509);  // takes its own reference; a duplicate is not an error
    } else {
      X509_up_ref(x509);
      if (sk_X509_push(stack, x509) <= 0) {
        X509_free(x509);
        return false;
      }
    }
  }
  ERR_clear_error();
  return true;
}

// Issuers fetched from caIssuers URLs, kept for an hour.
struct FetchedIssuers {
  std::vector<std::shared_ptr<X509>> certs;
  time_t fetchedAt = 0;
};

// IssuerCache holds fetched issuers by URL, least recently used out past its share of the
// download budget.
detail::LruCache<FetchedIssuers>& IssuerCache() {
  static auto* cache =
      new detail::LruCache<FetchedIssuers>(detail::kIssuerCacheEntries, detail::kIssuerCacheBytes);
  return *cache;  // never freed: fetches may run until the process ends
}

std::vector<std::shared_ptr<X509>> ParseIssuers(const std::vector<uint8_t>& bytes) {
  std::vector<std::shared_ptr<X509>> certs;
  const unsigned char* p = bytes.data();
  if (X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(bytes.size()))) {
    certs.emplace_back(x509, X509_free);
  } else {
    // A certs-only PKCS #7 bundle (.p7c), or PEM.
    p = bytes.data();
    if (PKCS7* bundle = d2i_PKCS7(nullptr, &p, static_cast<long>(bytes.size()))) {
      if (PKCS7_type_is_signed(bundle) && bundle->d.sign != nullptr) {
        STACK_OF(X509)* inside = bundle->d.sign->cert;
        for (int i = 0; inside != nullptr && i < sk_X509_num(inside); ++i) {
          X509* bundled = sk_X509_value(inside, i);
          X509_up_ref(bundled);
          certs.emplace_back(bundled, X509_free);
        }
      }
      PKCS7_free(bundle);
    } else if (detail::BioPtr bio{BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()))}) {
      while (X509* pem = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        certs.emplace_back(pem, X509_free);
      }
    }
  }
  ERR_clear_error();
  return certs;
}

std::vector<std::shared_ptr<X509>> FetchIssuers(const std::string& url,
                                                const ChainParameters& parameters) {
  const time_t now = static_cast<time_t>(parameters.clock->Now());
  const std::optional<FetchedIssuers> cached = IssuerCache().Find(url);
  if (cached && now - cached->fetchedAt < kIssuerCacheSeconds) return cached->certs;
  InternetRequest request;
  request.url = url;
  request.timeoutMs = parameters.urlRetrievalTimeoutMs;
  request.maxBytes = kMaxIssuerBytes;
  const std::optional<std::vector<uint8_t>> bytes = parameters.internet->Fetch(request);
  if (!bytes) return {};
  std::vector<std::shared_ptr<X509>> certs = ParseIssuers(*bytes);
  if (!certs.empty()) IssuerCache().Insert(url, FetchedIssuers{certs, now}, bytes->size());
  return certs;
}

std::vector<std::string> CaIssuerUrls(X509* x509) {
  std::vector<std::string> urls;
  detail::AuthorityInfoAccessPtr access(static_cast<AUTHORITY_INFO_ACCESS*>(
      X509_get_ext_d2i(x509, NID_info_access, nullptr, nullptr)));
  for (int i = 0; access && i < sk_ACCESS_DESCRIPTION_num(access.get()); ++i) {
    const ACCESS_DESCRIPTION* description = sk_ACCESS_DESCRIPTION_value(access.get(), i);
    if (OBJ_obj2nid(description->method) != NID_ad_ca_issuers) continue;
    std::string url = detail::HttpUrl(description->location);
    if (!url.empty()) urls.push_back(std::move(url));
  }
  return urls;
}

X509* FindIssuer(X509* subject, STACK_OF(X509) * candidates) {
  for (int i = 0; i < sk_X509_num(candidates); ++i) {
    X509* candidate = sk_X509_value(candidates, i);
    if (X509_check_issued(candidate, subject) == X509_V_OK) return candidate;
  }
  return nullptr;
}

// FetchMissingIssuers follows caIssuers URLs upwards from `cert` while an issuer is missing from
// both the trust anchors and the intermediates, adding what it fetches to `intermediates`.
void FetchMissingIssuers(X509* cert, STACK_OF(X509) * anchors, STACK_OF(X509) * intermediates,
                         const ChainParameters& parameters) {
  X509* current = cert;
  for (int step = 0; step < kMaxFetchedIssuers; ++step) {
    if (X509_check_issued(current, current) == X509_V_OK) return;  // self-issued: the top
    X509* issuer = FindIssuer(current, anchors);
    if (issuer != nullptr) return;
    issuer = FindIssuer(current, intermediates);
    if (issuer == nullptr) {
      for (const std::string& url : CaIssuerUrls(current)) {
        for (const std::shared_ptr<X509>& fetched : FetchIssuers(url, parameters)) {
          X509_up_ref(fetched.get());
          if (sk_X509_push(intermediates, fetched.get()) <= 0) X509_free(fetched.get());
        }
        issuer = FindIssuer(current, intermediates);
        if (issuer != nullptr) break;
      }
    }
    if (issuer == nullptr) return;
    current = issuer;
  }
}

// IsCyclic: the chain ended because the top certificate's issuer is already in the chain.
bool IsCyclic(STACK_OF(X509) * chain) {
  const int count = sk_X509_num(chain);
  if (count < 2) return false;
  X509* top = sk_X509_value(chain, count - 1);
  if (X509_check_issued(top, top) == X509_V_OK) return false;
  for (int i = 0; i < count - 1; ++i) {
    if (X509_check_issued(sk_X509_value(chain, i), top) == X509_V_OK) return true;
  }
  return false;
}

}  // namespace

namespace detail {

std::optional<uint32_t> VerifyContext(X509_STORE_CTX* context) {
  uint32_t bits = 0;
  X509_STORE_CTX_set_app_data(context, &bits);
  X509_STORE_CTX_set_verify_cb(context, CollectErrors);
  const int verified = X509_verify_cert(context);
  X509_STORE_CTX_set_app_data(context, nullptr);
  // The callback accepts every error, so a result of 0 or below with no bit collected means the
  // verification never ran to its end.
  if (verified <= 0 && bits == 0) {
    ERR_clear_error();
    SetLastError(NTE_FAIL);
    return std::nullopt;
  }
  return bits;
}

}  // namespace detail

std::optional<uint32_t> CertGetCertificateChain(const CertContext& cert,
                                                const ChainParameters& parameters) {
  EnsureCryptoLibrary();
  ERR_clear_error();
  detail::X509StorePtr store(X509_STORE_new());
  detail::X509StackPtr anchors(sk_X509_new_null());
  detail::X509StackPtr intermediates(sk_X509_new_null());
  detail::X509StoreCtxPtr context(X509_STORE_CTX_new());
  if (!store || !anchors || !intermediates || !context) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return std::nullopt;
  }
  for (const StoreLocation location : {StoreLocation::kCurrentUser, StoreLocation::kLocalMachine}) {
    const auto roots = CertStore::Open(location, "ROOT")->Certificates();
    AddCollection(store.get(), nullptr, *roots);
    AddCollection(nullptr, anchors.get(), *roots);
    AddCollection(nullptr, intermediates.get(), *CertStore::Open(location, "CA")->Certificates());
  }
  if (cert.Companions()) AddCollection(nullptr, intermediates.get(), *cert.Companions());

  X509* end = NativeX509(cert);
  FetchMissingIssuers(end, anchors.get(), intermediates.get(), parameters);

  if (X509_STORE_CTX_init(context.get(), store.get(), end, intermediates.get()) != 1) {
    ERR_clear_error();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return std::nullopt;
  }
  const time_t at = static_cast<time_t>(parameters.time ? FileTimeToUnixSeconds(*parameters.time)
                                                        : parameters.clock->Now());
  X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), at);
  const std::optional<uint32_t> verified = detail::VerifyContext(context.get());
  if (!verified) return std::nullopt;
  uint32_t bits = *verified;
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
  if (chain != nullptr && (bits & CERT_TRUST_IS_PARTIAL_CHAIN) && IsCyclic(chain)) {
    bits = (bits & ~CERT_TRUST_IS_PARTIAL_CHAIN) | CERT_TRUST_IS_CYCLIC;
  }
  if (parameters.checkRevocation) {
    X509* issuer = chain != nullptr && sk_X509_num(chain) > 1 ? sk_X509_value(chain, 1) : nullptr;
    if (issuer == nullptr && X509_check_issued(end, end) == X509_V_OK) issuer = end;
    bits |= detail::RevocationStatus(end, issuer, at, parameters);
  }
  ERR_clear_error();
  SetLastError(0);
  return bits;
}

}  // namespace platform
