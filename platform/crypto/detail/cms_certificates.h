#pragma once

// The certificates a CMS SignedData message carries, taken out of it before it is decoded, so
// that certificates seen before need not be decoded again (decoding one decodes its public key,
// which for a GOST key goes through the engine). Only platform/*.cpp include this.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform::detail {

struct SplitMessage {
  // The message with its certificates field left out, every enclosing length adjusted; the
  // same encoding otherwise (definite or indefinite lengths as they were).
  std::vector<uint8_t> withoutCertificates;
  // Each certificate's encoding, in message order: views into the message that was split.
  std::vector<std::span<const uint8_t>> certificates;
};

// SplitMessageCertificates reads `message` as ContentInfo { contentType, [0] SignedData } and
// returns it without SignedData's [0] IMPLICIT certificates field, and the certificates that
// field held. A message without the field comes back whole, with no certificates. Nullopt when
// the message is not shaped so (truncated, a length that does not add up, a tag of more than one
// byte, a certificate choice other than a plain certificate, bytes where none belong): the
// caller then decodes the message as it is, and reports what the decoder finds.
std::optional<SplitMessage> SplitMessageCertificates(std::span<const uint8_t> message);

}  // namespace platform::detail
