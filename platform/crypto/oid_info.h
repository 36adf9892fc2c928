#pragma once

// Friendly names of object identifiers (CryptFindOIDInfo by OID, converted to the ANSI code page):
// our own Russian names for the identifiers of Russian qualified certificates and the common
// X.509 extensions, key usages and algorithms; OpenSSL's long name for the rest of its table;
// nothing for identifiers nobody knows. Windows-1251 text.

#include <string>
#include <string_view>

namespace platform {

// OidFriendlyName returns the friendly name of the dotted `oid`, or an empty text.
std::string OidFriendlyName(std::string_view oid);

}  // namespace platform
