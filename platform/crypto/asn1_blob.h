#pragma once

// Asn1BlobStatus classifies a blob that should hold one ASN.1 SEQUENCE (a certificate, a CMS
// message) the way CryptoAPI's decoders report it: CRYPT_E_ASN1_EOD for an empty blob or one that
// ends before its declared length, CRYPT_E_ASN1_BADTAG when it does not start with a SEQUENCE, 0
// when the outer header is sound (the content may still be wrong). BER indefinite lengths are
// accepted.

#include <cstdint>
#include <span>

namespace platform {

uint32_t Asn1BlobStatus(std::span<const uint8_t> blob);

}  // namespace platform
