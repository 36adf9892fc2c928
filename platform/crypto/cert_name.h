#pragma once

// Name strings of certificates, as CryptoAPI's CertNameToStrA and CertGetNameStringA write them on
// a Windows machine with the Russian code page:
//  - X.500 keys for the attributes CryptoAPI knows (CN, O, OU, L, S, C, E, SN, G, T, STREET, ...)
//    and the Russian PKI attributes under their usual short names (ИНН, ОГРН, СНИЛС, ОГРНИП);
//    any other type as "OID.<dotted>";
//  - relative names separated by ", ", attributes of one relative name by " + ";
//  - a value holding any of , + = " < > # ; a line break, or beginning or ending with a space or
//    tab (or an empty value) stands in double quotes, inner quotes doubled;
//  - UTF-8, BMP and universal strings converted to Windows-1251, other characters as "?"; a
//    TeletexString read as UTF-8 when it is well-formed UTF-8, else as Latin-1; the other 8-bit
//    strings as Latin-1; a value that is not a string as "#" and the hexadecimal of its encoding.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/crypto/cert_context.h"

namespace platform {

inline constexpr uint32_t CERT_SIMPLE_NAME_STR = 1;
inline constexpr uint32_t CERT_OID_NAME_STR = 2;
inline constexpr uint32_t CERT_X500_NAME_STR = 3;
inline constexpr uint32_t CERT_NAME_STR_REVERSE_FLAG = 0x02000000;

inline constexpr uint32_t CERT_NAME_ATTR_TYPE = 3;
inline constexpr uint32_t CERT_NAME_SIMPLE_DISPLAY_TYPE = 4;
inline constexpr uint32_t CERT_NAME_ISSUER_FLAG = 0x1;

// CertNameToStrA writes the DER Name `name` in the form `strType` (one of the *_NAME_STR values,
// optionally with CERT_NAME_STR_REVERSE_FLAG, which lists the relative names last first). Returns
// the empty text for an empty or undecodable name.
std::string CertNameToStrA(std::span<const uint8_t> name, uint32_t strType);

// CertNameToStrA writes `cert`'s subject name (issuer name with `issuer`) as above, from the
// certificate's own decoded name.
std::string CertNameToStrA(const CertContext& cert, bool issuer, uint32_t strType);

// CertGetNameStringA returns one name of `cert`'s subject (issuer with CERT_NAME_ISSUER_FLAG):
//  - CERT_NAME_ATTR_TYPE: the value of the first attribute of type `attributeOid`, or empty;
//  - CERT_NAME_SIMPLE_DISPLAY_TYPE: the first of CN, OU, O, E; else the first e-mail or DNS name
//    of the alternative-name extension; else the first attribute of the name; else empty.
std::string CertGetNameStringA(const CertContext& cert, uint32_t type, uint32_t flags,
                               std::string_view attributeOid = {});

}  // namespace platform
