#pragma once

// The chain engine (CertGetCertificateChain's stand-in, over OpenSSL's X509_STORE):
//  - trust anchors: the ROOT stores of both locations;
//  - intermediates: the CA stores of both locations and the certificates the end certificate
//    travelled with (its companions), plus issuers fetched from an AIA caIssuers URL when missing;
//  - evaluation at a given time or now;
//  - revocation of the end certificate only when asked: OCSP from the AIA responder when the
//    certificate names one; when it names none, or the responder gives no good or revoked answer
//    (unreachable, an error status, "unknown", a stale or wrongly signed answer), the CRLs of its
//    distribution points (cached until nextUpdate). Only when both fail is the result
//    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
//  - fetched CRLs are kept until their nextUpdate and issuer certificates for an hour, by the
//    parameters' clock, in caches bounded together to 256 entries and 256 MiB, least recently
//    used out; a CRL over 64 MiB or an issuer download over 1 MiB is treated as unreachable;
//  - every problem found becomes a CERT_TRUST_* bit of the result, as CryptoAPI collects them in
//    the chain's dwErrorStatus.

#include <cstdint>
#include <optional>

#include "platform/crypto/cert_context.h"
#include "platform/os/clock.h"
#include "platform/os/inet.h"

namespace platform {

inline constexpr uint32_t CERT_TRUST_NO_ERROR = 0x00000000;
inline constexpr uint32_t CERT_TRUST_IS_NOT_TIME_VALID = 0x00000001;
inline constexpr uint32_t CERT_TRUST_IS_NOT_TIME_NESTED = 0x00000002;
inline constexpr uint32_t CERT_TRUST_IS_REVOKED = 0x00000004;
inline constexpr uint32_t CERT_TRUST_IS_NOT_SIGNATURE_VALID = 0x00000008;
inline constexpr uint32_t CERT_TRUST_IS_NOT_VALID_FOR_USAGE = 0x00000010;
inline constexpr uint32_t CERT_TRUST_IS_UNTRUSTED_ROOT = 0x00000020;
inline constexpr uint32_t CERT_TRUST_REVOCATION_STATUS_UNKNOWN = 0x00000040;
inline constexpr uint32_t CERT_TRUST_IS_CYCLIC = 0x00000080;
inline constexpr uint32_t CERT_TRUST_INVALID_EXTENSION = 0x00000100;
inline constexpr uint32_t CERT_TRUST_INVALID_POLICY_CONSTRAINTS = 0x00000200;
inline constexpr uint32_t CERT_TRUST_INVALID_BASIC_CONSTRAINTS = 0x00000400;
inline constexpr uint32_t CERT_TRUST_INVALID_NAME_CONSTRAINTS = 0x00000800;
inline constexpr uint32_t CERT_TRUST_IS_PARTIAL_CHAIN = 0x00010000;
inline constexpr uint32_t CERT_TRUST_IS_OFFLINE_REVOCATION = 0x01000000;
inline constexpr uint32_t CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT = 0x08000000;

// ChainParameters are one chain evaluation's inputs; the engine fills the limit, the clock and the
// downloads from its own context.
struct ChainParameters {
  std::optional<uint64_t> time;      // FILETIME (UTC) to judge at; none means now
  bool checkRevocation = false;      // check the end certificate's revocation
  int urlRetrievalTimeoutMs = 5000;  // limit on each download (issuers, CRLs, OCSP)
  // Now, for the judgement and for the freshness of OCSP answers and of cached CRLs and issuers.
  const Clock* clock = &SystemClock();
  Internet* internet = &SystemInternet();  // the downloads
};

// CertGetCertificateChain builds and judges the chain of `cert`. Returns the chain's trust error
// status (0 when it is fully trusted), or nullopt with the last error set when no chain could be
// built at all.
std::optional<uint32_t> CertGetCertificateChain(const CertContext& cert,
                                                const ChainParameters& parameters);

}  // namespace platform
