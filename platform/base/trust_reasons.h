#pragma once

// The names of the chain's trust error bits, for answers that list them as words instead of
// phrases.

#include <cstdint>
#include <string_view>
#include <vector>

namespace platform {

// ChainTrustReasons returns the CryptoAPI names of the CERT_TRUST_* error bits set in
// `chainStatus` ("CERT_TRUST_IS_REVOKED"), lowest bit first; bits without a CryptoAPI name are
// left out. A chain status is either such bits or an error code; an error code has the severity
// bit 0x80000000 set (the private-key usage period 0x80090317, the usage filter 0x80340017, no
// signer certificate 0xFFFFFFFF) and names no trust bits, so it gives none.
std::vector<std::string_view> ChainTrustReasons(uint32_t chainStatus);

}  // namespace platform
