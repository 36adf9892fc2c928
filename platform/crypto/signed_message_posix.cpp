#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <unordered_map>
#include <vector>

#include "platform/base/ber.h"
#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/asn1_blob.h"
#include "platform/crypto/cert_cache.h"
#include "platform/crypto/crypto_library.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/cms_certificates.h"
#include "platform/crypto/detail/decoded_size.h"
#include "platform/crypto/detail/signed_message.h"

namespace platform::detail {
namespace {

// A message's fresh certificates stay decoded while they are checked as long as together they
// take no more than this; past it they are dropped, and those the signer's chain needs are decoded
// again, so that a message of many large certificates never holds them all at once.
constexpr size_t kKeptWhileCheckingBytes = size_t{4} << 20;

// DecodeContentInfo parses `der` as a CMS message of signed data; null with the last error set
// otherwise.
CmsPtr DecodeContentInfo(std::span<const uint8_t> der) {
  ERR_clear_error();
  const unsigned char* p = der.data();
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  if (!cms) {
    SetLastError(DecodeFailureStatus());
    return nullptr;
  }
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    SetLastError(CRYPT_E_UNEXPECTED_MSG_TYPE);
    return nullptr;
  }
  return cms;
}

// DecodeWhole decodes a message that is not split, certificates and all, when its estimated
// decoded size fits `allowance`.
std::optional<SignedMessage> DecodeWhole(std::span<const uint8_t> blob,
                                         MemoryAllowance* allowance) {
  MemoryTake take(allowance, DecodedSizeEstimate(blob));
  if (!take.Taken()) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return std::nullopt;
  }
  CmsPtr cms = DecodeContentInfo(blob);
  if (!cms) return std::nullopt;
  take.Keep();
  auto certs = std::make_shared<CertCollection>();
  const X509StackPtr stack(CMS_get1_certs(cms.get()));
  for (int i = 0; stack && i < sk_X509_num(stack.get()); ++i) {
    if (CertContextPtr cert = ImportX509(sk_X509_value(stack.get(), i))) {
      certs->push_back(std::move(cert));
    }
  }
  return SignedMessage{std::move(cms), std::move(certs)};
}

unsigned long NameHash(const X509_NAME* name) {
  int ok = 0;
  return X509_NAME_hash_ex(name, nullptr, nullptr, &ok);
}

// Candidate is one certificate of a split message while the signer's chain is worked out: its
// context while it stays decoded, what that takes, and hashes of its canonical names.
struct Candidate {
  std::span<const uint8_t> der;
  size_t size = 0;  // its estimated decoded size
  CertContextPtr cert;
  std::optional<MemoryTake> take;  // for a certificate decoded here, not taken from the cache
  bool signer = false;
  unsigned long subject = 0, issuer = 0;
};

// Decode decodes `candidate` and takes its size; false with the last error set when it does not
// fit or does not decode.
bool Decode(Candidate& candidate, MemoryAllowance* allowance) {
  candidate.take.emplace(allowance, candidate.size);
  if (!candidate.take->Taken()) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return false;
  }
  candidate.cert = CertContext::Create(candidate.der);
  return candidate.cert != nullptr;
}

// SignerChain marks the signer's certificates and, from them upwards, every certificate whose
// subject is the issuer of one marked: what the chain may take from the message.
std::vector<bool> SignerChain(const std::vector<Candidate>& candidates) {
  std::unordered_multimap<unsigned long, size_t> bySubject;
  std::vector<size_t> pending;
  std::vector<bool> marked(candidates.size());
  for (size_t i = 0; i < candidates.size(); ++i) {
    bySubject.emplace(candidates[i].subject, i);
    if (candidates[i].signer) {
      marked[i] = true;
      pending.push_back(i);
    }
  }
  while (!pending.empty()) {
    const auto [first, last] = bySubject.equal_range(candidates[pending.back()].issuer);
    pending.pop_back();
    for (auto issuer = first; issuer != last; ++issuer) {
      if (!marked[issuer->second]) {
        marked[issuer->second] = true;
        pending.push_back(issuer->second);
      }
    }
  }
  return marked;
}

}  // namespace

std::optional<SignedMessage> DecodeSignedMessage(std::span<const uint8_t> blob,
                                                 KeptCertificates kept, uint32_t signerIndex,
                                                 MemoryAllowance* allowance) {
  EnsureCryptoLibrary();
  ERR_clear_error();
  if (const uint32_t status = Asn1BlobStatus(blob); status != 0) {
    SetLastError(status);
    return std::nullopt;
  }
  const SplitMessage split = SplitMessageCertificates(blob);
  switch (split.outcome) {
    case SplitOutcome::kTruncated:
      SetLastError(CRYPT_E_ASN1_EOD);
      return std::nullopt;
    case SplitOutcome::kMalformed:
      SetLastError(CRYPT_E_ASN1_BADTAG);
      return std::nullopt;
    case SplitOutcome::kWhole:
      return DecodeWhole(blob, allowance);
    case SplitOutcome::kSplit:
      break;
  }
  CmsPtr cms = DecodeContentInfo(split.withoutCertificates);
  if (!cms) return std::nullopt;
  CMS_SignerInfo* signerInfo = nullptr;
  const STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms.get());
  if (kept == KeptCertificates::kSignerChain && signerInfos != nullptr &&
      signerIndex < static_cast<uint32_t>(sk_CMS_SignerInfo_num(signerInfos))) {
    signerInfo = sk_CMS_SignerInfo_value(signerInfos, static_cast<int>(signerIndex));
  }

  // Every certificate is checked as the decoder of the whole message would check it, one at a
  // time; what the signer's chain does not need is not held.
  CertCache& cache = CertCache::Process();
  std::vector<Candidate> candidates(split.certificates.size());
  size_t keptWhileChecking = 0;
  for (size_t i = 0; i < candidates.size(); ++i) {
    Candidate& candidate = candidates[i];
    candidate.der = split.certificates[i];
    candidate.size = DecodedSizeEstimate(candidate.der);
    candidate.cert = cache.Find(candidate.der);
    if (!candidate.cert && !Decode(candidate, allowance)) return std::nullopt;
    X509* x509 = NativeX509(*candidate.cert);
    candidate.signer =
        kept == KeptCertificates::kFirst
            ? i == 0
            : signerInfo != nullptr && CMS_SignerInfo_cert_cmp(signerInfo, x509) == 0;
    candidate.subject = NameHash(X509_get_subject_name(x509));
    candidate.issuer = NameHash(X509_get_issuer_name(x509));
    const bool cheap = keptWhileChecking + candidate.size <= kKeptWhileCheckingBytes;
    if (kept == KeptCertificates::kNone ||
        (kept != KeptCertificates::kAll && candidate.take && !candidate.signer && !cheap)) {
      candidate.cert.reset();
      candidate.take.reset();
    } else if (candidate.take) {
      keptWhileChecking += candidate.size;
    }
  }
  ERR_clear_error();

  std::vector<bool> wanted(candidates.size(), kept == KeptCertificates::kAll);
  if (kept == KeptCertificates::kSignerChain || kept == KeptCertificates::kFirst) {
    wanted = SignerChain(candidates);
  }
  auto certs = std::make_shared<CertCollection>();
  for (size_t i = 0; i < candidates.size(); ++i) {
    Candidate& candidate = candidates[i];
    if (!wanted[i]) continue;
    if (!candidate.cert && !Decode(candidate, allowance)) return std::nullopt;
    if (candidate.take) {
      candidate.take->Keep();
      if (kept != KeptCertificates::kAll) cache.Keep(*candidate.cert);
    }
    certs->push_back(std::move(candidate.cert));
  }
  return SignedMessage{std::move(cms), std::move(certs)};
}

}  // namespace platform::detail
