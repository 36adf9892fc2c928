#pragma once

// Bare signature values for the PKI fixture, as EVP_DigestSign makes them.
//
// Example:
//   RawSignature raw = SignRaw(key, bytes);  // raw.signature in OpenSSL's (engine's) order

#include <openssl/types.h>

#include <cstdint>
#include <span>
#include <vector>

#include "tests/pki/key.h"

namespace tests::pki {

// RawSignature is a signature over some data and the digest behind it.
struct RawSignature {
  // signature: EVP_DigestSign's output. GOST: the engine's order (s then r, each big-endian);
  // RSA: PKCS #1 v1.5; ECDSA: the DER Ecdsa-Sig-Value.
  std::vector<uint8_t> signature;
  // digest: the algorithm, DigestOf(key.Kind()); not owned.
  const EVP_MD* digest = nullptr;
  // hash: the digest of the data, as EVP_Digest returns it.
  std::vector<uint8_t> hash;
};

// SignRaw signs `data` with `key` through EVP_DigestSign. Empty `signature` on failure; the
// reason goes to standard error.
RawSignature SignRaw(const Key& key, std::span<const uint8_t> data);

}  // namespace tests::pki
