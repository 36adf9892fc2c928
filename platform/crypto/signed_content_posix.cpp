#include <openssl/err.h>
#include <openssl/x509.h>

#include <algorithm>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/asn1_blob.h"
#include "platform/crypto/crypto_library.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/handles.h"
#include "platform/crypto/signed_content.h"

namespace platform {

std::optional<SignedContentInfo> DecodeCertSignedContent(std::span<const uint8_t> der) {
  EnsureCryptoLibrary();
  if (const uint32_t status = Asn1BlobStatus(der); status != 0) {
    SetLastError(status);
    return std::nullopt;
  }
  const unsigned char* p = der.data();
  ERR_clear_error();
  detail::X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!x509) {
    SetLastError(detail::DecodeFailureStatus());
    return std::nullopt;
  }
  const ASN1_BIT_STRING* signature = nullptr;
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(&signature, &algorithm, x509.get());
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  SignedContentInfo info;
  info.signatureAlgorithmOid = detail::ObjectText(object);
  const unsigned char* bytes = ASN1_STRING_get0_data(signature);
  info.signature.assign(bytes, bytes + ASN1_STRING_length(signature));
  // CryptDecodeObjectEx of X509_CERT, unless asked to keep the encoded order, hands the signature
  // over least significant byte first.
  std::reverse(info.signature.begin(), info.signature.end());
  // The count of unused bits in the last byte, as the BIT STRING carries it.
  if (signature->flags & ASN1_STRING_FLAG_BITS_LEFT) info.unusedBits = signature->flags & 0x07;
  return info;
}

}  // namespace platform
