#pragma once

// Decoding of a CMS SignedData message for the message functions of crypt_msg.h: the message
// without its certificates, and of those only what the caller keeps, each decoded certificate
// counted against the request's allowance. Only platform/*.cpp include this.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/base/memory_allowance.h"
#include "platform/crypto/cert_context.h"
#include "platform/crypto/detail/handles.h"

namespace platform::detail {

// KeptCertificates says which of a message's certificates a decode keeps: none (they are only
// checked), those of one signer (its own and those that may issue it, up the chain, by name), the
// same for the first certificate, or all of them.
enum class KeptCertificates { kNone, kSignerChain, kFirst, kAll };

struct SignedMessage {
  CmsPtr cms;  // without certificates when it was split
  // The certificates kept, in message order, each context sharing the collection.
  std::shared_ptr<CertCollection> certs;
};

// DecodeSignedMessage decodes `blob` as a signed message, keeping `kept` certificates (for
// kSignerChain, those of signer `signerIndex`), in message order; known certificates come from the
// process's certificate cache, and the signer's chain that was decoded goes into it. Every
// certificate decoded takes its estimated size from `allowance` (none: no bound): the kept ones for
// as long as the allowance lives, the others while they are checked. Nullopt with the last error
// set when it is no signed message: the status the decoder gives for the whole message, or
// CRYPT_E_ASN1_BADTAG when it would not fit the allowance.
std::optional<SignedMessage> DecodeSignedMessage(std::span<const uint8_t> blob,
                                                 KeptCertificates kept, uint32_t signerIndex,
                                                 MemoryAllowance* allowance);

}  // namespace platform::detail
