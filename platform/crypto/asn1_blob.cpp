#include "platform/crypto/asn1_blob.h"

#include "platform/base/win_status.h"

namespace platform {

uint32_t Asn1BlobStatus(std::span<const uint8_t> blob) {
  constexpr uint8_t kSequenceTag = 0x30;
  if (blob.empty()) return CRYPT_E_ASN1_EOD;
  if (blob[0] != kSequenceTag) return CRYPT_E_ASN1_BADTAG;
  if (blob.size() < 2) return CRYPT_E_ASN1_EOD;
  const uint8_t first = blob[1];
  if (first == 0x80) return 0;  // indefinite length: the end is found by the decoder
  uint64_t length = first;
  size_t header = 2;
  if (first & 0x80) {
    const size_t count = first & 0x7F;
    if (count > 8) return CRYPT_E_ASN1_BADTAG;
    if (blob.size() < 2 + count) return CRYPT_E_ASN1_EOD;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | blob[2 + i];
    header += count;
  }
  return length > blob.size() - header ? CRYPT_E_ASN1_EOD : 0;
}

}  // namespace platform
