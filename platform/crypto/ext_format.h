#pragma once

// CryptFormatObject's stand-in for certificate extension values: a one-line, readable rendering.
// OpenSSL's extension printers do the known extensions, their lines folded into one; the
// Russian-PKI extensions 1.2.643.100.111, .112 and .114 are rendered here; any other value shows
// as its bytes in spaced hexadecimal. Windows-1251 text.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// FormatExtensionValue renders the encoded value of extension `oid`; empty when the value
// does not decode as that extension.
std::string FormatExtensionValue(std::string_view oid, std::span<const uint8_t> value);

}  // namespace platform
