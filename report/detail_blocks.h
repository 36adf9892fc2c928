#pragma once

// The certificate blocks of the HTML report and the text conversions of certificate fields they
// use. Texts taken from a certificate (names, friendly names, extension renderings) are
// HTML-escaped, line breaks included, before they go into a block; the fixed fragments are
// reproduced as they are.
// Every conversion that cannot be made gives the empty text inside its fixed frame.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/crypto/cert_context.h"

namespace report {

// NameText writes the DER name with X.500 keys, last relative name first; empty when it cannot.
std::string NameText(std::span<const uint8_t> name);

// OidName returns the friendly name of the dotted `oid`, or empty.
std::string OidName(std::string_view oid);

// ExtensionValueText renders an extension value on one line, or empty.
std::string ExtensionValueText(std::string_view oid, std::span<const uint8_t> value);

// UtcTimeText writes a FILETIME as "%Y-%m-%d %H:%M:%S" in UTC, whatever the local time zone.
// Times before 1900 or after 3000 give the empty text rather than a date that is not theirs.
std::string UtcTimeText(uint64_t fileTime);

// HtmlEscaped replaces &, <, > and " by their character references, and CR and LF by "&#13;"
// and "&#10;", so that certificate text can neither add markup nor break the answer line.
std::string HtmlEscaped(std::string_view text);

// CertificateInfoHtml is the certificate information block; empty for none.
std::string CertificateInfoHtml(const platform::CertInfo* info);

// SignerCertificateHtml is the signer certificate block: two rows around CertificateInfoHtml.
std::string SignerCertificateHtml(const platform::CertInfo& info);

// CertificateSignatureHtml is the block of the issuer's signature over the encoded certificate,
// the signature bytes in CryptoAPI's order (least significant first, as the platform decodes
// them); its cell is empty when the certificate does not decode.
std::string CertificateSignatureHtml(std::span<const uint8_t> encoded);

}  // namespace report
