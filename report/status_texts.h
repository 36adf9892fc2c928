#pragma once

// The status texts of a verification: one each for the signature check, the certificate lookup
// and the chain, as the CHECK answer and the HTML report show them. Each combines fixed phrases
// for the chain's trust error bits, the system's message for the code, and the code itself as
// eight lower-case hexadecimal digits. Windows-1251 text.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "verify/result.h"

namespace report {

// SystemMessageText returns the system message of `code` without trailing white space, or empty.
std::string SystemMessageText(uint32_t code);

// SignatureStatusText: "<detail> " when the result refers to a detail text, then "%08x" for the
// codes 0 and 0xFFFFFFFF, else "<system message> (%08x)".
std::string SignatureStatusText(const verify::VerifyResult& result);

// CertificateStatusText: as SignatureStatusText for the certificate status, without a detail.
std::string CertificateStatusText(const verify::VerifyResult& result);

// ChainStatusText: empty for status 0; else the phrase of every trust bit set, in table order,
// then the system message of the whole status, then " (%08x)".
std::string ChainStatusText(const verify::VerifyResult& result);

// ChainTrustBitNames returns the CryptoAPI names of the trust error bits set in `chainStatus`
// ("CERT_TRUST_IS_REVOKED"), in the order of the bits; a bit without a name as "0x%08x". A status
// that is an error code rather than trust bits (its top bit set: 0x80090317, 0xFFFFFFFF) has
// none, and neither has 0.
std::vector<std::string> ChainTrustBitNames(uint32_t chainStatus);

}  // namespace report
