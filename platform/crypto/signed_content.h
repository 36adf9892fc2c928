#pragma once

// The outer structure of an encoded certificate (CryptDecodeObjectEx with X509_CERT): the
// signature algorithm and the issuer's signature over the certificate.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

struct SignedContentInfo {
  std::string signatureAlgorithmOid;  // dotted
  std::vector<uint8_t> signature;     // CryptoAPI's order: least significant byte first, the
                                      // reverse of the BIT STRING's encoded bytes
  uint32_t unusedBits = 0;
};

// DecodeCertSignedContent decodes the certificate `der`; nullopt with the last error set when it
// does not decode.
std::optional<SignedContentInfo> DecodeCertSignedContent(std::span<const uint8_t> der);

}  // namespace platform
