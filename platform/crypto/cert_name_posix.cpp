#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/base/cp1251.h"
#include "platform/base/hex.h"
#include "platform/base/utf8.h"
#include "platform/crypto/cert_name.h"
#include "platform/crypto/crypto_texts.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/handles.h"

namespace platform {
namespace {

using detail::ObjectText;

detail::X509NamePtr DecodeName(std::span<const uint8_t> der) {
  const unsigned char* p = der.data();
  return detail::X509NamePtr(d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())));
}

// Latin1Text converts single-byte text, bytes above 0x7F read as Latin-1.
std::string Latin1Text(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const int byte = detail::Cp1251Byte(static_cast<unsigned char>(c));
    text += byte < 0 ? '?' : static_cast<char>(byte);
  }
  return text;
}

// ValueText converts one attribute value to Windows-1251 text.
std::string ValueText(const ASN1_STRING* value) {
  const unsigned char* data = ASN1_STRING_get0_data(value);
  const size_t length = static_cast<size_t>(ASN1_STRING_length(value));
  const std::string_view bytes(reinterpret_cast<const char*>(data), length);
  switch (ASN1_STRING_type(value)) {
    case V_ASN1_UTF8STRING:
      return Utf8ToCp1251(bytes);
    case V_ASN1_T61STRING:
      // CryptoAPI reads a TeletexString as UTF-8 unless it is not well-formed UTF-8, and only
      // then as 8-bit text.
      return IsUtf8(bytes) ? Utf8ToCp1251(bytes) : Latin1Text(bytes);
    case V_ASN1_BMPSTRING: {
      std::u16string units;
      for (size_t i = 0; i + 1 < length; i += 2) {
        units += static_cast<char16_t>((data[i] << 8) | data[i + 1]);
      }
      return Utf16ToCp1251(units);
    }
    case V_ASN1_UNIVERSALSTRING: {
      std::string text;
      for (size_t i = 0; i + 3 < length; i += 4) {
        const char32_t codePoint = (char32_t{data[i]} << 24) | (char32_t{data[i + 1]} << 16) |
                                   (char32_t{data[i + 2]} << 8) | data[i + 3];
        const int byte = detail::Cp1251Byte(codePoint);
        text += byte < 0 ? '?' : static_cast<char>(byte);
      }
      return text;
    }
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_NUMERICSTRING:
    case V_ASN1_VISIBLESTRING:
      // Single-byte strings: bytes above 0x7F read as Latin-1.
      return Latin1Text(bytes);
    default: {
      // Not a string: "#" and the hexadecimal of the value's encoding.
      std::string text = "#";
      detail::Asn1TypePtr any(ASN1_TYPE_new());
      if (!any || ASN1_TYPE_set1(any.get(), ASN1_STRING_type(value), value) != 1) return text;
      unsigned char* der = nullptr;
      const int derLength = i2d_ASN1_TYPE(any.get(), &der);
      detail::OpenSslBytesPtr owner(der);
      if (derLength > 0) text += HexText(std::span(der, static_cast<size_t>(derLength)));
      return text;
    }
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool NeedsQuotes(std::string_view value) {
  if (value.empty() || IsBlank(value.front()) || IsBlank(value.back())) return true;
  return value.find_first_of(",+=\"<>#;\r\n") != std::string_view::npos;
}

std::string Quoted(const std::string& value) {
  if (!NeedsQuotes(value)) return value;
  std::string quoted = "\"";
  for (const char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string KeyOf(const ASN1_OBJECT* object, uint32_t form) {
  const std::string oid = ObjectText(object);
  if (form == CERT_OID_NAME_STR) return oid;
  for (size_t i = 0; i < texts::kRdnKeyCount; ++i) {
    if (oid == texts::kRdnKeys[i].oid) return texts::kRdnKeys[i].key;
  }
  return "OID." + oid;
}

const X509_NAME* NameOf(const CertContext& cert, uint32_t flags) {
  X509* x509 = detail::NativeX509(cert);
  return (flags & CERT_NAME_ISSUER_FLAG) ? X509_get_issuer_name(x509) : X509_get_subject_name(x509);
}

std::string FirstAttribute(const X509_NAME* name, const std::string& oid) {
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    if (ObjectText(X509_NAME_ENTRY_get_object(entry)) == oid) {
      return ValueText(X509_NAME_ENTRY_get_data(entry));
    }
  }
  return {};
}

std::string FirstAlternativeName(X509* x509) {
  detail::GeneralNamesPtr names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(x509, NID_subject_alt_name, nullptr, nullptr)));
  if (!names) return {};
  for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
    if (name->type == GEN_EMAIL || name->type == GEN_DNS) return ValueText(name->d.ia5);
  }
  return {};
}

// NameToStr writes `name` in the form `strType`.
std::string NameToStr(const X509_NAME* name, uint32_t strType) {
  const uint32_t form = strType & 0xFF;
  const bool reverse = (strType & CERT_NAME_STR_REVERSE_FLAG) != 0;

  // Group the attributes into their relative names, in encoded order.
  std::vector<std::vector<std::string>> relativeNames;
  int currentSet = -1;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    if (X509_NAME_ENTRY_set(entry) != currentSet) {
      currentSet = X509_NAME_ENTRY_set(entry);
      relativeNames.emplace_back();
    }
    std::string attribute;
    if (form != CERT_SIMPLE_NAME_STR) {
      attribute = KeyOf(X509_NAME_ENTRY_get_object(entry), form) + "=";
    }
    attribute += Quoted(ValueText(X509_NAME_ENTRY_get_data(entry)));
    relativeNames.back().push_back(std::move(attribute));
  }
  if (reverse) std::reverse(relativeNames.begin(), relativeNames.end());

  std::string text;
  for (size_t i = 0; i < relativeNames.size(); ++i) {
    if (i > 0) text += ", ";
    for (size_t j = 0; j < relativeNames[i].size(); ++j) {
      if (j > 0) text += " + ";
      text += relativeNames[i][j];
    }
  }
  return text;
}

}  // namespace

std::string CertNameToStrA(std::span<const uint8_t> der, uint32_t strType) {
  const detail::X509NamePtr name = DecodeName(der);
  return name ? NameToStr(name.get(), strType) : std::string();
}

std::string CertNameToStrA(const CertContext& cert, bool issuer, uint32_t strType) {
  return NameToStr(NameOf(cert, issuer ? CERT_NAME_ISSUER_FLAG : 0), strType);
}

std::string CertGetNameStringA(const CertContext& cert, uint32_t type, uint32_t flags,
                               std::string_view attributeOid) {
  const X509_NAME* name = NameOf(cert, flags);
  if (type == CERT_NAME_ATTR_TYPE) return FirstAttribute(name, std::string(attributeOid));
  if (type != CERT_NAME_SIMPLE_DISPLAY_TYPE) return {};
  for (const char* oid : {"2.5.4.3", "2.5.4.11", "2.5.4.10", "1.2.840.113549.1.9.1"}) {
    std::string value = FirstAttribute(name, oid);
    if (!value.empty()) return value;
  }
  if ((flags & CERT_NAME_ISSUER_FLAG) == 0) {
    std::string alternative = FirstAlternativeName(detail::NativeX509(cert));
    if (!alternative.empty()) return alternative;
  }
  if (X509_NAME_entry_count(name) > 0) {
    return ValueText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, 0)));
  }
  return {};
}

namespace detail {

CertTexts MakeCertTexts(const CertContext& cert) {
  // What fixed buffers of the sizes CryptoAPI's callers give hold, terminating NUL included.
  constexpr size_t kNameStrBuffer = 16384;
  constexpr size_t kNameStringBuffer = 2048;
  const auto truncated = [](std::string text, size_t size) {
    if (text.size() >= size) text.resize(size - 1);
    return text;
  };
  const auto name = [&](bool issuer, bool x500) {
    const uint32_t type =
        (x500 ? CERT_X500_NAME_STR : CERT_SIMPLE_NAME_STR) | CERT_NAME_STR_REVERSE_FLAG;
    return truncated(CertNameToStrA(cert, issuer, type), kNameStrBuffer);
  };
  const std::string surname =
      truncated(CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, "2.5.4.4"), kNameStringBuffer);
  const std::string givenName =
      truncated(CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, "2.5.4.42"), kNameStringBuffer);
  CertTexts texts;
  texts.subjectName =
      surname.empty() || givenName.empty()
          ? truncated(CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0), kNameStringBuffer)
          : surname + " " + givenName;
  texts.subject = name(false, false);
  texts.subjectX500 = name(false, true);
  texts.issuer = name(true, false);
  texts.issuerX500 = name(true, true);
  texts.serialNumber = SerialNumberText(cert.Info().serialNumber);
  return texts;
}

}  // namespace detail
}  // namespace platform
