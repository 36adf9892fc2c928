#pragma once

// Detached CMS (PKCS #7) signed messages, as CryptoAPI's simplified message functions see them.
// The signature alone is checked: no chain, purpose, key-usage or validity-time check (those
// belong to the chain engine). BER with indefinite lengths is accepted, as real signing tools
// produce it. Failures set the last error:
//   CRYPT_E_ASN1_EOD            empty or truncated blob
//   CRYPT_E_ASN1_BADTAG         not a CMS message
//   CRYPT_E_UNEXPECTED_MSG_TYPE a well-formed ContentInfo that is not SignedData
//   CRYPT_E_NO_SIGNER           no signer at that index (none at all in a certificates-only
//                               message)
//   CRYPT_E_NOT_FOUND           the signer's certificate is not among the message's certificates
//   CRYPT_E_HASH_VALUE          the content's digest does not match the signed attributes
//   NTE_BAD_SIGNATURE           the signature value does not verify
//   NTE_BAD_ALGID               a digest or key algorithm this machine does not implement
// A message is decoded without its certificates first; of those only the signer's and the ones
// that may issue it (up the chain, by name) are kept, the others are decoded one at a time to
// check them and dropped. Every certificate decoded takes its size from the `allowance` given
// (none: no bound) for as long as it is kept; one that does not fit makes the message unreadable
// (CRYPT_E_ASN1_BADTAG).

#include <cstdint>
#include <optional>
#include <span>

#include "platform/base/memory_allowance.h"
#include "platform/crypto/cert_context.h"

namespace platform {

// CryptVerifyDetachedMessageSignature verifies signer `signerIndex` of the detached message
// `signature` over `data`, taking the signer's certificate from the message's own certificates.
// On success returns true and, when `signer` is given, the signer's certificate (its companions
// are the message's certificates that chain through it). On failure returns false and sets the
// last error.
bool CryptVerifyDetachedMessageSignature(std::span<const uint8_t> signature,
                                         std::span<const uint8_t> data, uint32_t signerIndex,
                                         CertContextPtr* signer,
                                         MemoryAllowance* allowance = nullptr);

// CryptVerifyDetachedMessageSignatureFile is CryptVerifyDetachedMessageSignature over the content
// of the open file `fd`, read from its start in pieces, so that a large document is never held in
// memory. A file that cannot be read to its end fails as a content that does not match. The
// caller keeps `fd`.
bool CryptVerifyDetachedMessageSignatureFile(std::span<const uint8_t> signature, int fd,
                                             uint32_t signerIndex, CertContextPtr* signer,
                                             MemoryAllowance* allowance = nullptr);

// CryptGetMessageSignerCount returns the number of signers of `message`, or -1 with the last error
// set when it is not a signed message.
int CryptGetMessageSignerCount(std::span<const uint8_t> message,
                               MemoryAllowance* allowance = nullptr);

// FindMessageSignerCertificate returns the certificate of `message` that signer `signerIndex`
// names (by issuer and serial number or key identifier), whether or not its signature verifies,
// with the message's certificates that chain through it as companions; null with the last error
// set when the message, the signer or the certificate is missing.
CertContextPtr FindMessageSignerCertificate(std::span<const uint8_t> message, uint32_t signerIndex,
                                            MemoryAllowance* allowance = nullptr);

// CryptGetMessageCertificates returns the certificates carried by `message`, in message order,
// each with the others as companions; nullopt with the last error set when the message cannot be
// decoded.
std::optional<CertCollection> CryptGetMessageCertificates(std::span<const uint8_t> message,
                                                          MemoryAllowance* allowance = nullptr);

// FirstMessageCertificate returns the first certificate `message` carries (the first that
// CertEnumCertificatesInStore yields from CryptGetMessageCertificates' store), with those of the
// message that chain through it as companions, without keeping the others; null with the last error
// set when the message cannot be decoded, or CRYPT_E_NOT_FOUND when it carries none.
CertContextPtr FirstMessageCertificate(std::span<const uint8_t> message,
                                       MemoryAllowance* allowance = nullptr);

}  // namespace platform
