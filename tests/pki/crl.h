#pragma once

// Certificate revocation lists for the PKI fixture.
//
// Example:
//   std::vector<uint8_t> crl = MakeCrl(ca, caKey, {{leaf.Serial(), now - 3600}}, now, now + 86400);
//   http.Serve("/ca.crl", crl, "application/pkix-crl");

#include <cstdint>
#include <optional>
#include <vector>

#include "tests/pki/cert.h"
#include "tests/pki/key.h"

namespace tests::pki {

// RevokedCert is one CRL entry: the serial's DER content octets (as Cert::Serial gives them),
// the revocation time in Unix seconds, and an optional CRLReason code (1 keyCompromise, ...).
struct RevokedCert {
  std::vector<uint8_t> serial;
  int64_t revocationTime = 0;
  std::optional<int> reason;
};

// MakeCrl returns the DER of a v2 CRL issued by `issuerCert`, signed by `issuerKey` with
// DigestOf(issuerKey.Kind()), listing `revoked` (sorted by serial), with thisUpdate
// `thisUpdate`, nextUpdate `nextUpdate` when set, and the extensions authority key identifier
// (the issuer's) and cRLNumber `crlNumber`. Empty on failure; the reason goes to standard error.
std::vector<uint8_t> MakeCrl(const Cert& issuerCert, const Key& issuerKey,
                             const std::vector<RevokedCert>& revoked, int64_t thisUpdate,
                             std::optional<int64_t> nextUpdate, uint64_t crlNumber = 1);

}  // namespace tests::pki
