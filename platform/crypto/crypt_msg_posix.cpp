#include <openssl/cms.h>
#include <openssl/err.h>
#include <unistd.h>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/crypt_msg.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/handles.h"
#include "platform/crypto/detail/signed_message.h"

namespace platform {
namespace {

using detail::KeptCertificates;
using detail::SignedMessage;

// ContentDigestMatches runs `content` through the message's digests, piece by piece, and checks
// the signer's. A content that cannot be read to its end does not match.
bool ContentDigestMatches(CMS_ContentInfo* cms, CMS_SignerInfo* signerInfo,
                          detail::BioPtr content) {
  if (!content) return false;
  BIO* chain = CMS_dataInit(cms, content.get());
  if (chain == nullptr) return false;
  content.release();
  detail::BioPtr owner(chain);  // frees the digest BIOs and the content BIO
  char buffer[16384];
  int read = 0;
  while ((read = BIO_read(chain, buffer, sizeof buffer)) > 0) {
  }
  return read == 0 && CMS_SignerInfo_verify_content(signerInfo, chain) == 1;
}

bool DigestKnown(CMS_SignerInfo* signerInfo) {
  X509_ALGOR* digestAlgorithm = nullptr;
  CMS_SignerInfo_get0_algs(signerInfo, nullptr, nullptr, &digestAlgorithm, nullptr);
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, digestAlgorithm);
  return EVP_get_digestbyobj(object) != nullptr;
}

}  // namespace

// SignerInfoAt returns signer `index` of `cms`, or null with CRYPT_E_NO_SIGNER (a
// certificates-only message has no signer at all).
CMS_SignerInfo* SignerInfoAt(CMS_ContentInfo* cms, uint32_t index) {
  STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms);
  if (signerInfos == nullptr ||
      index >= static_cast<uint32_t>(sk_CMS_SignerInfo_num(signerInfos))) {
    SetLastError(CRYPT_E_NO_SIGNER);
    return nullptr;
  }
  return sk_CMS_SignerInfo_value(signerInfos, static_cast<int>(index));
}

// SignerCertificate returns the certificate of `certs` that `signerInfo` names, or null with
// CRYPT_E_NOT_FOUND.
const CertContext* SignerCertificate(CMS_SignerInfo* signerInfo, const CertCollection& certs) {
  for (const auto& cert : certs) {
    if (CMS_SignerInfo_cert_cmp(signerInfo, detail::NativeX509(*cert)) == 0) return cert.get();
  }
  SetLastError(CRYPT_E_NOT_FOUND);
  return nullptr;
}

namespace {

// VerifyDetached is CryptVerifyDetachedMessageSignature over the content `makeContent` opens.
template <typename MakeContent>
bool VerifyDetached(std::span<const uint8_t> signature, const MakeContent& makeContent,
                    uint32_t signerIndex, CertContextPtr* signer, MemoryAllowance* allowance) {
  std::optional<SignedMessage> message = detail::DecodeSignedMessage(
      signature, KeptCertificates::kSignerChain, signerIndex, allowance);
  if (!message) return false;
  CMS_ContentInfo* cms = message->cms.get();
  CMS_SignerInfo* signerInfo = SignerInfoAt(cms, signerIndex);
  if (signerInfo == nullptr) return false;
  const std::shared_ptr<CertCollection>& certs = message->certs;
  const CertContext* signerCert = SignerCertificate(signerInfo, *certs);
  if (signerCert == nullptr) return false;
  CMS_SignerInfo_set1_signer_cert(signerInfo, detail::NativeX509(*signerCert));
  const bool hasSignedAttributes = CMS_signed_get_attr_count(signerInfo) >= 0;

  uint32_t status = 0;
  if (!DigestKnown(signerInfo) || X509_get0_pubkey(detail::NativeX509(*signerCert)) == nullptr) {
    status = NTE_BAD_ALGID;
  } else if (!ContentDigestMatches(cms, signerInfo, makeContent())) {
    status = hasSignedAttributes ? CRYPT_E_HASH_VALUE : NTE_BAD_SIGNATURE;
  } else if (hasSignedAttributes && CMS_SignerInfo_verify(signerInfo) != 1) {
    status = NTE_BAD_SIGNATURE;
  }
  ERR_clear_error();
  if (status != 0) {
    SetLastError(status);
    return false;
  }
  if (signer != nullptr) {
    *signer = signerCert->Duplicate();
    (*signer)->SetCompanions(certs);
  }
  SetLastError(0);
  return true;
}

}  // namespace

bool CryptVerifyDetachedMessageSignature(std::span<const uint8_t> signature,
                                         std::span<const uint8_t> data, uint32_t signerIndex,
                                         CertContextPtr* signer, MemoryAllowance* allowance) {
  const auto content = [data] {
    return detail::BioPtr(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  };
  return VerifyDetached(signature, content, signerIndex, signer, allowance);
}

bool CryptVerifyDetachedMessageSignatureFile(std::span<const uint8_t> signature, int fd,
                                             uint32_t signerIndex, CertContextPtr* signer,
                                             MemoryAllowance* allowance) {
  const auto content = [fd] {
    if (lseek(fd, 0, SEEK_SET) != 0) return detail::BioPtr();
    return detail::BioPtr(BIO_new_fd(fd, BIO_NOCLOSE));
  };
  return VerifyDetached(signature, content, signerIndex, signer, allowance);
}

CertContextPtr FindMessageSignerCertificate(std::span<const uint8_t> blob, uint32_t signerIndex,
                                            MemoryAllowance* allowance) {
  std::optional<SignedMessage> message =
      detail::DecodeSignedMessage(blob, KeptCertificates::kSignerChain, signerIndex, allowance);
  if (!message) return nullptr;
  CMS_SignerInfo* signerInfo = SignerInfoAt(message->cms.get(), signerIndex);
  if (signerInfo == nullptr) return nullptr;
  const CertContext* signerCert = SignerCertificate(signerInfo, *message->certs);
  if (signerCert == nullptr) return nullptr;
  CertContextPtr found = signerCert->Duplicate();
  found->SetCompanions(message->certs);
  return found;
}

int CryptGetMessageSignerCount(std::span<const uint8_t> blob, MemoryAllowance* allowance) {
  std::optional<SignedMessage> message =
      detail::DecodeSignedMessage(blob, KeptCertificates::kNone, 0, allowance);
  if (!message) return -1;
  STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(message->cms.get());
  return signerInfos == nullptr ? 0 : sk_CMS_SignerInfo_num(signerInfos);
}

std::optional<CertCollection> CryptGetMessageCertificates(std::span<const uint8_t> blob,
                                                          MemoryAllowance* allowance) {
  std::optional<SignedMessage> message =
      detail::DecodeSignedMessage(blob, KeptCertificates::kAll, 0, allowance);
  if (!message) return std::nullopt;
  const std::shared_ptr<CertCollection>& certs = message->certs;
  CertCollection result;
  for (const auto& cert : *certs) {
    CertContextPtr copy = cert->Duplicate();
    copy->SetCompanions(certs);
    result.push_back(std::move(copy));
  }
  return result;
}

CertContextPtr FirstMessageCertificate(std::span<const uint8_t> blob, MemoryAllowance* allowance) {
  std::optional<SignedMessage> message =
      detail::DecodeSignedMessage(blob, KeptCertificates::kFirst, 0, allowance);
  if (!message) return nullptr;
  if (message->certs->empty()) {
    SetLastError(CRYPT_E_NOT_FOUND);
    return nullptr;
  }
  CertContextPtr first = message->certs->front()->Duplicate();
  first->SetCompanions(message->certs);
  return first;
}

}  // namespace platform
