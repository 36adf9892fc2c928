#pragma once

// The OpenSSL certificate behind a CertContext; only platform/*.cpp include this.

#include <mutex>

#include "platform/crypto/cert_context.h"
#include "platform/crypto/detail/handles.h"

namespace platform {

struct CertContext::Native {
  detail::X509Ptr x509;
};

struct CertContext::Decoded {
  std::vector<uint8_t> encoded;
  CertInfo info;
  Native native;
  mutable std::once_flag textsMade;
  mutable CertTexts texts;  // made once, under `textsMade`
  mutable std::once_flag hashMade;
  mutable std::array<uint8_t, 32> sha256{};  // made once, under `hashMade`
};

namespace detail {

// NativeX509 lends the context's X509.
inline X509* NativeX509(const CertContext& cert) { return cert.OpenSsl().x509.get(); }

// ImportX509 (declared in cert_context.h) makes a context from an X509 the caller still owns; the
// context takes a reference of its own.

// ObjectText returns the dotted form of `object`.
std::string ObjectText(const ASN1_OBJECT* object);

// DecodeFailureStatus empties OpenSSL's error queue after a failed ASN.1 decode and returns
// CryptoAPI's code for it: CRYPT_E_ASN1_EOD when the decoder ran out of bytes (a truncated blob,
// an indefinite length without its end), else CRYPT_E_ASN1_BADTAG.
uint32_t DecodeFailureStatus();

// MakeCertTexts writes `cert`'s texts (cert_name_posix.cpp).
CertTexts MakeCertTexts(const CertContext& cert);

// HttpUrl returns the http or https URL `name` holds, or an empty text for any other name.
std::string HttpUrl(const GENERAL_NAME* name);

}  // namespace detail
}  // namespace platform
