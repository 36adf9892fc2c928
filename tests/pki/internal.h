#pragma once

// Helpers shared by the PKI fixture's sources; not for the tests that use the fixture.

#include <openssl/crypto.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tests/pki/handles.h"

namespace tests::pki {

// ReportFailure writes "pki: `what`: <OpenSSL error queue>" to standard error, empties the queue
// and returns false.
bool ReportFailure(std::string_view what);

// Asn1TimeOf returns `unixSeconds` as UTCTime for the years 1950 to 2049 and as GeneralizedTime
// outside them (the X.509 rule), or null on failure. Times before 1970 are allowed.
Asn1TimePtr Asn1TimeOf(int64_t unixSeconds);

// Asn1IntegerOf returns a non-negative INTEGER whose DER content octets are `bytes` exactly (a
// leading 0x00 is kept), with a 0x00 put in front when the first byte has its top bit set. Null
// when `bytes` is empty.
Asn1IntegerPtr Asn1IntegerOf(std::span<const uint8_t> bytes);

// KeyIdentifier returns the SHA-1 of the subjectPublicKey bits of `key` (the usual subject key
// identifier), or nothing on failure.
std::vector<uint8_t> KeyIdentifier(EVP_PKEY* key);

// CertKeyIdentifier returns the subject key identifier of `cert`, or KeyIdentifier of its public
// key when it has none; nothing on failure.
std::vector<uint8_t> CertKeyIdentifier(X509* cert);

// AuthorityKeyIdOf returns an authority key identifier holding only `keyId`, or null.
AuthorityKeyIdPtr AuthorityKeyIdOf(std::span<const uint8_t> keyId);

// EncodeDer returns `i2d(value)` as bytes, or nothing when the encoder fails.
template <typename T, typename I2d>
std::vector<uint8_t> EncodeDer(const T* value, I2d i2d) {
  unsigned char* der = nullptr;
  const int length = i2d(value, &der);
  if (length <= 0) return {};
  OpenSslBytesPtr owner(der);
  return std::vector<uint8_t>(der, der + length);
}

}  // namespace tests::pki
