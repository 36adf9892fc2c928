#pragma once

// One run of OpenSSL's chain verification, for the chain engine. Only platform/*.cpp include this.

#include <cstdint>
#include <optional>

#include "platform/crypto/detail/handles.h"

namespace platform::detail {

// VerifyContext verifies the initialised `context`, collecting every error it meets as a
// CERT_TRUST_* bit instead of stopping at the first, as CryptoAPI reports them together. Returns
// the bits (0: trusted), or nullopt with the last error set to NTE_FAIL when the verification
// failed without naming a reason (an internal failure of the library): a chain that could not be
// judged is never reported as trusted.
std::optional<uint32_t> VerifyContext(X509_STORE_CTX* context);

}  // namespace platform::detail
