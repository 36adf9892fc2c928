#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "platform/base/cp1251.h"
#include "platform/base/hex.h"
#include "platform/crypto/crypto_texts.h"
#include "platform/crypto/detail/handles.h"
#include "platform/crypto/ext_format.h"

namespace platform {
namespace {

std::string StringText(const ASN1_STRING* value) {
  const auto* data = reinterpret_cast<const char*>(ASN1_STRING_get0_data(value));
  const std::string_view bytes(data, static_cast<size_t>(ASN1_STRING_length(value)));
  return ASN1_STRING_type(value) == V_ASN1_UTF8STRING ? Utf8ToCp1251(bytes) : std::string(bytes);
}

// SubjectSignTool: one string, the name of the owner's signing tool.
std::string SubjectSignTool(std::span<const uint8_t> value) {
  const unsigned char* p = value.data();
  ASN1_STRING* text = d2i_DIRECTORYSTRING(nullptr, &p, static_cast<long>(value.size()));
  if (text == nullptr) return {};
  std::string rendered = StringText(text);
  ASN1_STRING_free(text);
  return rendered;
}

// IssuerSignTool: four strings, the issuer's signing tool, its CA tool and their conformity
// certificates, each with its label.
std::string IssuerSignTool(std::span<const uint8_t> value) {
  const unsigned char* p = value.data();
  long length = 0;
  int tag = 0, xclass = 0;
  if (ASN1_get_object(&p, &length, &tag, &xclass, static_cast<long>(value.size())) & 0x80 ||
      tag != V_ASN1_SEQUENCE) {
    return {};
  }
  const unsigned char* end = p + length;
  std::string rendered;
  for (size_t i = 0; p < end && i < texts::kIssuerSignToolLabelCount; ++i) {
    ASN1_STRING* text = d2i_DIRECTORYSTRING(nullptr, &p, end - p);
    if (text == nullptr) return {};
    if (!rendered.empty()) rendered += "; ";
    rendered += texts::kIssuerSignToolLabels[i];
    rendered += StringText(text);
    ASN1_STRING_free(text);
  }
  return rendered;
}

// IdentificationKind: how the applicant was identified when the certificate was issued.
std::string IdentificationKind(std::span<const uint8_t> value) {
  const unsigned char* p = value.data();
  ASN1_INTEGER* kind = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(value.size()));
  if (kind == nullptr) return {};
  const long number = ASN1_INTEGER_get(kind);
  ASN1_INTEGER_free(kind);
  std::string rendered;
  if (number >= 0 && static_cast<size_t>(number) < texts::kIdentificationKindCount) {
    rendered = std::string(texts::kIdentificationKinds[number]) + " ";
  }
  return rendered + "(" + std::to_string(number) + ")";
}

// Folded joins OpenSSL's lines into one: a line ending in ":" runs into the next with a blank,
// other lines are separated by ", ".
std::string Folded(const std::string& printed) {
  std::string line;
  size_t start = 0;
  while (start <= printed.size()) {
    size_t end = printed.find('\n', start);
    if (end == std::string::npos) end = printed.size();
    std::string_view piece(printed.data() + start, end - start);
    while (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t'))
      piece.remove_prefix(1);
    while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\r')) piece.remove_suffix(1);
    if (!piece.empty()) {
      if (!line.empty()) line += line.back() == ':' ? " " : ", ";
      line += piece;
    }
    start = end + 1;
  }
  return line;
}

std::string OpenSslRendering(std::string_view oid, std::span<const uint8_t> value) {
  const std::string dotted(oid);
  detail::Asn1ObjectPtr object(OBJ_txt2obj(dotted.c_str(), 1));
  ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
  if (!object || data == nullptr ||
      ASN1_OCTET_STRING_set(data, value.data(), static_cast<int>(value.size())) != 1) {
    ASN1_OCTET_STRING_free(data);
    return {};
  }
  X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, data);
  ASN1_OCTET_STRING_free(data);
  if (extension == nullptr) return {};
  detail::BioPtr bio(BIO_new(BIO_s_mem()));
  const bool known = bio && X509V3_EXT_get(extension) != nullptr;
  const bool printed = known && X509V3_EXT_print(bio.get(), extension, 0, 0) == 1;
  X509_EXTENSION_free(extension);
  ERR_clear_error();
  if (!known) return HexText(value, HexCase::kLower, false, true);
  if (!printed) return {};
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &text);
  const std::string rendered = Folded(std::string(text, static_cast<size_t>(length)));
  if (rendered == "<Parse Error>") return {};
  return Utf8ToCp1251(rendered);
}

}  // namespace

std::string FormatExtensionValue(std::string_view oid, std::span<const uint8_t> value) {
  if (oid == "1.2.643.100.111") return SubjectSignTool(value);
  if (oid == "1.2.643.100.112") return IssuerSignTool(value);
  if (oid == "1.2.643.100.114") return IdentificationKind(value);
  return OpenSslRendering(oid, value);
}

}  // namespace platform
