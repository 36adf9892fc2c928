#pragma once

// Revocation of one certificate, for the chain engine. Only platform/*.cpp include this.

#include <cstdint>
#include <ctime>

#include "platform/detail/handles.h"

namespace platform::detail {

// RevocationStatus returns the CERT_TRUST_* bits of `cert`'s revocation at `at`: 0 when good,
// CERT_TRUST_IS_REVOKED, CERT_TRUST_REVOCATION_STATUS_UNKNOWN when the certificate names no source
// or the source does not know it, and REVOCATION_STATUS_UNKNOWN | IS_OFFLINE_REVOCATION when no
// source could be reached or gave a usable answer. `issuer` is null when the chain has none.
uint32_t RevocationStatus(X509* cert, X509* issuer, time_t at, int timeoutMs);

}  // namespace platform::detail
