#pragma once

// The certificates a CMS SignedData message carries, taken out of it before it is decoded, so
// that the decoder reads the rest alone and only the certificates a check needs are decoded (a
// certificate seen before need not be decoded again, and one the check does not need is not
// kept). Only platform/*.cpp include this.

#include <cstdint>
#include <span>
#include <vector>

namespace platform::detail {

// SplitOutcome says what became of a message:
//  - kSplit: it reads as ContentInfo { signedData, [0] SignedData } with its fields in order,
//    each once and in a form the decoder takes, and its certificates (if any) are all plain
//    certificates;
//  - kWhole: it is shaped otherwise but may still decode (another content type, a certificate
//    choice other than a plain certificate): the caller decodes it whole;
//  - kTruncated, kMalformed: the decoder refuses it, as running out of data (CRYPT_E_ASN1_EOD)
//    or as a wrong tag or structure (CRYPT_E_ASN1_BADTAG).
enum class SplitOutcome { kSplit, kWhole, kTruncated, kMalformed };

struct SplitMessage {
  SplitOutcome outcome = SplitOutcome::kMalformed;
  // The message with its certificates field left out, every enclosing length adjusted; the same
  // encoding otherwise (definite or indefinite lengths as they were). Only for kSplit.
  std::vector<uint8_t> withoutCertificates;
  // Each certificate's encoding, in message order: views into the message that was split.
  std::vector<std::span<const uint8_t>> certificates;
};

// SplitMessageCertificates splits `message` when it is a SignedData message; `message` is
// accepted exactly when OpenSSL's decoder would accept the parts it reads (the fields of
// ContentInfo and SignedData and the certificate set), so that the split message decodes exactly
// when the whole one does, with the same certificates. Bytes after the message are kept after it.
SplitMessage SplitMessageCertificates(std::span<const uint8_t> message);

}  // namespace platform::detail
