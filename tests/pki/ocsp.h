#pragma once

// OCSP responses for the PKI fixture, served as they are to whatever request arrives (no nonce).
//
// Example:
//   http.Serve("/ocsp", MakeOcspResponse(ca, caKey, leaf, OcspCertStatus::kGood, now, now + 3600),
//              "application/ocsp-response");

#include <cstdint>
#include <optional>
#include <vector>

#include "tests/pki/cert.h"
#include "tests/pki/key.h"

namespace tests::pki {

// OcspCertStatus is the certStatus of a single response (the values are RFC 6960's).
enum class OcspCertStatus { kGood = 0, kRevoked = 1, kUnknown = 2 };

// OcspResponseStatus is an unsuccessful responseStatus (the values are RFC 6960's).
enum class OcspResponseStatus {
  kMalformedRequest = 1,
  kInternalError = 2,
  kTryLater = 3,
  kSigRequired = 5,
  kUnauthorized = 6,
};

// MakeOcspResponse returns the DER of a successful OCSPResponse whose basic response is signed by
// `issuerCert`/`issuerKey` (DigestOf(issuerKey.Kind()); the responder is named by the issuer's
// name and the issuer's certificate is included) and holds one SingleResponse for `subjectCert`:
// certificate id over SHA-1, `status`, revocationTime `revocationTime` (default `thisUpdate`) when
// revoked, `thisUpdate`, and `nextUpdate` when set. producedAt is the current time. Empty on
// failure; the reason goes to standard error.
std::vector<uint8_t> MakeOcspResponse(const Cert& issuerCert, const Key& issuerKey,
                                      const Cert& subjectCert, OcspCertStatus status,
                                      int64_t thisUpdate, std::optional<int64_t> nextUpdate,
                                      std::optional<int64_t> revocationTime = std::nullopt);

// MakeOcspError returns the DER of an OCSPResponse with `status` and no response bytes.
std::vector<uint8_t> MakeOcspError(OcspResponseStatus status);

}  // namespace tests::pki
