#pragma once

// Revocation of one certificate, for the chain engine. Only platform/*.cpp include this.

#include <cstdint>
#include <ctime>

#include "platform/crypto/chain.h"
#include "platform/crypto/detail/handles.h"

namespace platform::detail {

// RevocationStatus returns the CERT_TRUST_* bits of `cert`'s revocation at `at`: 0 when good,
// CERT_TRUST_IS_REVOKED, CERT_TRUST_REVOCATION_STATUS_UNKNOWN when the certificate names no source
// or its only source, an OCSP responder, does not know it, and REVOCATION_STATUS_UNKNOWN |
// IS_OFFLINE_REVOCATION when no source could be reached or gave a usable answer. OCSP is asked
// first when the certificate names a responder; a good or revoked answer decides, any other
// outcome falls back to the CRLs of its distribution points. `issuer` is null when the chain has
// none. Downloads through `parameters.internet`, each limited to
// `parameters.urlRetrievalTimeoutMs`, and blocks for them; judges the freshness of answers and
// cached CRLs by `parameters.clock`.
uint32_t RevocationStatus(X509* cert, X509* issuer, time_t at, const ChainParameters& parameters);

}  // namespace platform::detail
