#pragma once

// Decoding of the certificate extensions the engine reads itself (CryptDecodeObjectEx).

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

inline constexpr char kOidEnhancedKeyUsage[] = "2.5.29.37";

// DecodeEnhancedKeyUsage (X509_ENHANCED_KEY_USAGE) returns the usage OIDs of an extended key usage
// extension value, in order; nullopt with the last error set (CRYPT_E_ASN1_EOD,
// CRYPT_E_ASN1_BADTAG) when the value does not decode.
std::optional<std::vector<std::string>> DecodeEnhancedKeyUsage(std::span<const uint8_t> value);

}  // namespace platform
