// Feeds arbitrary bytes to the signature and certificate blob parsers of platform/ and checks what
// their callers rely on. Byte 0 chooses the parser: even, the rest is a detached CMS signature
// over kDocument; odd, the rest is a certificate.
//
// As a signature:
//  - CryptGetMessageSignerCount, CryptGetMessageCertificates, FindMessageSignerCertificate and
//    CryptVerifyDetachedMessageSignature agree on whether the bytes are a signed message: all
//    fail with the same decoding status or none does;
//  - every failure leaves a status of the list in crypt_msg.h in GetLastError; a signer index at
//    or past the signer count gives CRYPT_E_NO_SIGNER;
//  - a verified signer is the certificate FindMessageSignerCertificate names and travels with
//    message certificates, itself among them (those that chain through it), and the signature
//    never verifies over a changed document;
//  - the message's certificates import again from their encodings, and FirstMessageCertificate
//    is the first of them;
//  - a decodable message without its last byte is refused as truncated (CRYPT_E_ASN1_EOD).
// As a certificate:
//  - CertContext::Create fails only with CRYPT_E_ASN1_EOD or CRYPT_E_ASN1_BADTAG;
//  - an accepted certificate's encoding is the start of the input and imports again to the same
//    fields; without its last byte it is refused as truncated (CRYPT_E_ASN1_EOD);
//  - its issuer and subject, written by CertNameToStrA in every form, forwards and reversed,
//    read back as the name's relative names and attribute types in order, with the same values
//    in every form; no name text holds a NUL unless an attribute value held a zero;
//  - CertGetNameStringA gives the value of the name's first attribute of the asked type, and
//    for the issuer's display name one of the issuer's values.
// The name checks decode the name with OpenSSL itself, independently of the code under test.

#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/cert_context.h"
#include "platform/crypto/cert_name.h"
#include "platform/crypto/crypt_msg.h"
#include "platform/crypto/detail/handles.h"

namespace fuzz {
namespace {

using platform::detail::CmsPtr;
using platform::detail::X509NamePtr;

// The document the seed signatures sign, and the same with its last byte changed.
constexpr std::string_view kDocument = "<doc>signed text</doc>\r\n";
constexpr std::string_view kChangedDocument = "<doc>signed text</doc>\r!";

std::span<const uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

bool IsDecodingStatus(uint32_t status) {
  return status == platform::CRYPT_E_ASN1_EOD || status == platform::CRYPT_E_ASN1_BADTAG ||
         status == platform::CRYPT_E_UNEXPECTED_MSG_TYPE;
}

// IsMessageStatus is true for the statuses crypt_msg.h lists.
bool IsMessageStatus(uint32_t status) {
  return IsDecodingStatus(status) || status == platform::CRYPT_E_NO_SIGNER ||
         status == platform::CRYPT_E_NOT_FOUND || status == platform::CRYPT_E_HASH_VALUE ||
         status == platform::NTE_BAD_SIGNATURE || status == platform::NTE_BAD_ALGID;
}

bool SameExtensions(const std::vector<platform::CertExtension>& a,
                    const std::vector<platform::CertExtension>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.oid == y.oid && x.critical == y.critical && x.value == y.value;
  });
}

bool SameInfo(const platform::CertInfo& a, const platform::CertInfo& b) {
  const platform::CertPublicKeyInfo& ka = a.subjectPublicKeyInfo;
  const platform::CertPublicKeyInfo& kb = b.subjectPublicKeyInfo;
  return a.version == b.version && a.serialNumber == b.serialNumber &&
         a.signatureAlgorithmOid == b.signatureAlgorithmOid && a.issuer == b.issuer &&
         a.notBefore == b.notBefore && a.notAfter == b.notAfter && a.subject == b.subject &&
         ka.algorithmOid == kb.algorithmOid && ka.key == kb.key && ka.unusedBits == kb.unusedBits &&
         ka.encoded == kb.encoded && SameExtensions(a.extensions, b.extensions);
}

// CheckReimport imports `cert`'s encoding again and requires the same certificate.
void CheckReimport(const platform::CertContext& cert) {
  const platform::CertContextPtr again = platform::CertContext::Create(cert.Encoded());
  Require(again != nullptr, "a certificate's encoding imports again");
  Require(again->Encoded() == cert.Encoded(), "the encoding survives a second import");
  Require(SameInfo(again->Info(), cert.Info()), "a second import reads the same fields");
}

// ---- Names ----------------------------------------------------------------------------------

// Attribute is one attribute of a name as OpenSSL decodes it.
struct Attribute {
  int set = 0;        // the relative name it belongs to, in encoded order
  std::string oid;    // dotted
  bool zero = false;  // its value holds a zero character
};

std::string DottedOid(const ASN1_OBJECT* object) {
  const int length = OBJ_obj2txt(nullptr, 0, object, 1);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  OBJ_obj2txt(text.data(), static_cast<int>(text.size()), object, 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

// HoldsZero is true when the string `value` holds a character of code 0: a zero unit of a
// BMPString (2 bytes) or UniversalString (4 bytes), a zero byte of any other type.
bool HoldsZero(const ASN1_STRING* value) {
  const unsigned char* data = ASN1_STRING_get0_data(value);
  const size_t length = static_cast<size_t>(ASN1_STRING_length(value));
  size_t unit = 1;
  if (ASN1_STRING_type(value) == V_ASN1_BMPSTRING) unit = 2;
  if (ASN1_STRING_type(value) == V_ASN1_UNIVERSALSTRING) unit = 4;
  for (size_t i = 0; i + unit <= length; i += unit) {
    if (std::all_of(data + i, data + i + unit, [](unsigned char b) { return b == 0; })) return true;
  }
  return false;
}

// DecodeAttributes lists the attributes of the DER name `der`; nullopt when OpenSSL cannot
// decode it.
std::optional<std::vector<Attribute>> DecodeAttributes(std::span<const uint8_t> der) {
  const unsigned char* p = der.data();
  const X509NamePtr name(d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())));
  ERR_clear_error();
  if (!name) return std::nullopt;
  std::vector<Attribute> attributes;
  for (int i = 0; i < X509_NAME_entry_count(name.get()); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name.get(), i);
    attributes.push_back({X509_NAME_ENTRY_set(entry), DottedOid(X509_NAME_ENTRY_get_object(entry)),
                          HoldsZero(X509_NAME_ENTRY_get_data(entry))});
  }
  return attributes;
}

// Written is one attribute read back from a name text: its key ("CN=") and its value, unquoted.
struct Written {
  std::string key;
  std::string value;
  bool operator==(const Written&) const = default;
};
using WrittenName = std::vector<std::vector<Written>>;  // relative names of attributes

bool NeedsNoQuotes(std::string_view value) {
  return !value.empty() && value.front() != ' ' && value.back() != ' ' &&
         value.find_first_of(",+=\"<>#;\r\n") == std::string_view::npos;
}

// ReadNameText parses a CertNameToStrA text: relative names separated by ", ", attributes by
// " + ", each "key=value" (just "value" when `keyed` is false), a value either plain (no
// separator, quote or line break, no blank at either end) or in double quotes with inner quotes
// doubled. Nullopt when the text does not follow that form.
std::optional<WrittenName> ReadNameText(std::string_view text, bool keyed) {
  WrittenName name;
  if (text.empty()) return name;
  name.emplace_back();
  size_t at = 0;
  for (;;) {
    Written attribute;
    if (keyed) {
      const size_t equals = text.find('=', at);
      if (equals == std::string_view::npos) return std::nullopt;
      attribute.key = text.substr(at, equals - at);
      if (attribute.key.find_first_of(",+\"") != std::string::npos) return std::nullopt;
      at = equals + 1;
    }
    if (at < text.size() && text[at] == '"') {
      for (++at;; ++at) {
        if (at >= text.size()) return std::nullopt;  // no closing quote
        if (text[at] != '"') {
          attribute.value += text[at];
        } else if (at + 1 < text.size() && text[at + 1] == '"') {
          attribute.value += '"';
          ++at;
        } else {
          ++at;
          break;
        }
      }
    } else {
      size_t end = std::min(text.find(", ", at), text.find(" + ", at));
      if (end == std::string_view::npos) end = text.size();
      attribute.value = text.substr(at, end - at);
      if (!NeedsNoQuotes(attribute.value)) return std::nullopt;
      at = end;
    }
    name.back().push_back(std::move(attribute));
    if (at == text.size()) return name;
    if (text.substr(at, 2) == ", ") {
      name.emplace_back();
      at += 2;
    } else if (text.substr(at, 3) == " + ") {
      at += 3;
    } else {
      return std::nullopt;
    }
  }
}

// CheckNameText checks one form of `der`'s text against its decoded attributes and returns it.
WrittenName CheckNameText(std::span<const uint8_t> der, const std::vector<Attribute>& attributes,
                          uint32_t form, bool reverse) {
  const std::string text =
      platform::CertNameToStrA(der, form | (reverse ? platform::CERT_NAME_STR_REVERSE_FLAG : 0));
  const bool zero = std::any_of(attributes.begin(), attributes.end(),
                                [](const Attribute& attribute) { return attribute.zero; });
  Require(zero || text.find('\0') == std::string::npos,
          "a name text holds a NUL only when a value held a zero");
  std::optional<WrittenName> written = ReadNameText(text, form != platform::CERT_SIMPLE_NAME_STR);
  Require(written.has_value(), "a name text reads back by its separators and quotes");
  if (reverse) std::reverse(written->begin(), written->end());

  // The attributes, in encoded order, grouped by relative name.
  size_t next = 0;
  for (const std::vector<Written>& relative : *written) {
    Require(!relative.empty() && next < attributes.size(), "no more attributes than the name");
    const int set = attributes[next].set;
    for (const Written& attribute : relative) {
      Require(next < attributes.size() && attributes[next].set == set,
              "a relative name's attributes are written together");
      const std::string& oid = attributes[next].oid;
      if (form == platform::CERT_OID_NAME_STR) {
        Require(attribute.key == oid, "the OID form's keys are the attribute types");
      } else if (form == platform::CERT_X500_NAME_STR && attribute.key.starts_with("OID.")) {
        Require(attribute.key.substr(4) == oid, "an X.500 key OID.<type> names the type");
      }
      ++next;
    }
    Require(next == attributes.size() || attributes[next].set != set,
            "a relative name is written whole");
  }
  Require(next == attributes.size(), "every attribute is written");
  return *written;
}

std::vector<std::string> ValuesOf(const WrittenName& name) {
  std::vector<std::string> values;
  for (const auto& relative : name) {
    for (const Written& attribute : relative) values.push_back(attribute.value);
  }
  return values;
}

// CheckName checks the texts of `der`, the issuer or subject of `cert`, in every form.
void CheckName(const platform::CertContext& cert, std::span<const uint8_t> der, bool issuer) {
  const std::optional<std::vector<Attribute>> attributes = DecodeAttributes(der);
  Require(attributes.has_value(), "an accepted certificate's names decode");
  std::optional<std::vector<std::string>> values;
  for (const uint32_t form : {platform::CERT_SIMPLE_NAME_STR, platform::CERT_OID_NAME_STR,
                              platform::CERT_X500_NAME_STR}) {
    const WrittenName forwards = CheckNameText(der, *attributes, form, false);
    const WrittenName backwards = CheckNameText(der, *attributes, form, true);
    Require(forwards == backwards, "the reversed text holds the relative names last first");
    if (!values) values = ValuesOf(forwards);
    Require(ValuesOf(forwards) == *values, "every form writes the same values");
  }

  const uint32_t flags = issuer ? platform::CERT_NAME_ISSUER_FLAG : 0;
  for (const std::string_view oid : {"2.5.4.3", "2.5.4.10", "1.2.643.3.131.1.1"}) {
    const auto first =
        std::find_if(attributes->begin(), attributes->end(),
                     [&](const Attribute& attribute) { return attribute.oid == oid; });
    const std::string expected =
        first == attributes->end() ? std::string() : (*values)[first - attributes->begin()];
    Require(
        platform::CertGetNameStringA(cert, platform::CERT_NAME_ATTR_TYPE, flags, oid) == expected,
        "CERT_NAME_ATTR_TYPE gives the first value of the type");
  }
  const std::string display =
      platform::CertGetNameStringA(cert, platform::CERT_NAME_SIMPLE_DISPLAY_TYPE, flags);
  // The subject's display name may come from the alternative-name extension instead.
  if (issuer && !display.empty()) {
    Require(std::find(values->begin(), values->end(), display) != values->end(),
            "the issuer's display name is one of its values");
  }
}

void CheckCertificate(std::span<const uint8_t> blob) {
  const platform::CertContextPtr cert = platform::CertContext::Create(blob);
  if (!cert) {
    const uint32_t status = platform::GetLastError();
    Require(status == platform::CRYPT_E_ASN1_EOD || status == platform::CRYPT_E_ASN1_BADTAG,
            "a refused certificate gives CRYPT_E_ASN1_EOD or CRYPT_E_ASN1_BADTAG");
    return;
  }
  const std::vector<uint8_t>& encoded = cert->Encoded();
  Require(!encoded.empty() && encoded.size() <= blob.size() &&
              std::equal(encoded.begin(), encoded.end(), blob.begin()),
          "the encoding kept is the start of the input");
  Require(!cert->Info().serialNumber.empty(), "a certificate has serial number bytes");
  CheckReimport(*cert);
  const platform::CertContextPtr copy = cert->Duplicate();
  Require(copy->Encoded() == encoded && SameInfo(copy->Info(), cert->Info()),
          "a duplicate has the same encoding and fields");
  Require(platform::CertContext::Create(std::span(encoded).first(encoded.size() - 1)) == nullptr &&
              platform::GetLastError() == platform::CRYPT_E_ASN1_EOD,
          "a certificate without its last byte is refused as truncated");

  CheckName(*cert, cert->Info().issuer, true);
  CheckName(*cert, cert->Info().subject, false);
}

// ---- Signatures -----------------------------------------------------------------------------

// MessageLength returns how many bytes at the start of `blob` OpenSSL reads as one CMS message;
// 0 when it reads none.
size_t MessageLength(std::span<const uint8_t> blob) {
  const unsigned char* p = blob.data();
  const CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(blob.size())));
  ERR_clear_error();
  return cms ? static_cast<size_t>(p - blob.data()) : 0;
}

bool InCollection(const platform::CertContext& cert, const platform::CertCollection& certs) {
  return std::any_of(certs.begin(), certs.end(),
                     [&](const auto& other) { return other->Encoded() == cert.Encoded(); });
}

// TravelsWithItsChain: `cert` has companions, all of them certificates of `certs`, itself among
// them.
bool TravelsWithItsChain(const platform::CertContext& cert, const platform::CertCollection& certs) {
  const auto& companions = cert.Companions();
  return companions && InCollection(cert, *companions) &&
         std::all_of(companions->begin(), companions->end(),
                     [&](const auto& companion) { return InCollection(*companion, certs); });
}

void CheckSignature(std::span<const uint8_t> signature) {
  const std::span<const uint8_t> document = BytesOf(kDocument);
  const int signers = platform::CryptGetMessageSignerCount(signature);
  const uint32_t countStatus = platform::GetLastError();
  const std::optional<platform::CertCollection> certs =
      platform::CryptGetMessageCertificates(signature);
  const uint32_t certsStatus = platform::GetLastError();
  const platform::CertContextPtr named = platform::FindMessageSignerCertificate(signature, 0);
  const uint32_t namedStatus = platform::GetLastError();
  platform::CertContextPtr signer;
  const bool verified =
      platform::CryptVerifyDetachedMessageSignature(signature, document, 0, &signer);
  const uint32_t verifyStatus = platform::GetLastError();

  if (signers < 0) {
    Require(signers == -1 && IsDecodingStatus(countStatus),
            "a blob that is no signed message gives a decoding status");
    Require(!certs && certsStatus == countStatus && !named && namedStatus == countStatus &&
                !verified && verifyStatus == countStatus,
            "every message function refuses an undecodable blob alike");
    return;
  }
  Require(certs.has_value(), "the certificates of a decodable message are read");
  const size_t length = MessageLength(signature);
  Require(length > 0, "a decodable message is one for OpenSSL too");
  Require(platform::CryptGetMessageSignerCount(signature.first(length - 1)) == -1 &&
              platform::GetLastError() == platform::CRYPT_E_ASN1_EOD,
          "a message without its last byte is refused as truncated");
  const platform::CertContextPtr first = platform::FirstMessageCertificate(signature);
  Require(certs->empty()
              ? first == nullptr && platform::GetLastError() == platform::CRYPT_E_NOT_FOUND
              : first != nullptr && first->Encoded() == certs->front()->Encoded() &&
                    TravelsWithItsChain(*first, *certs),
          "the first certificate is the first of the message's, with its chain");
  for (const auto& cert : *certs) {
    CheckReimport(*cert);
    Require(cert->Companions() && cert->Companions()->size() == certs->size(),
            "each message certificate travels with all of them");
  }
  Require(!verified || signer != nullptr, "a verified signature returns its signer");
  if (!verified)
    Require(IsMessageStatus(verifyStatus), "a failed verification gives a listed status");
  if (!named) {
    Require(IsMessageStatus(namedStatus), "a missing signer certificate gives a listed status");
  }

  const auto index = static_cast<uint32_t>(signers);
  Require(!platform::CryptVerifyDetachedMessageSignature(signature, document, index, nullptr) &&
              platform::GetLastError() == platform::CRYPT_E_NO_SIGNER,
          "verifying a signer past the count gives CRYPT_E_NO_SIGNER");
  Require(!platform::FindMessageSignerCertificate(signature, index) &&
              platform::GetLastError() == platform::CRYPT_E_NO_SIGNER,
          "finding a signer past the count gives CRYPT_E_NO_SIGNER");
  if (signers == 0) {
    Require(!named && namedStatus == platform::CRYPT_E_NO_SIGNER && !verified &&
                verifyStatus == platform::CRYPT_E_NO_SIGNER,
            "a message without signers has no signer 0");
    return;
  }

  // Signer 0 exists: its certificate is among the message's or missing for both functions.
  Require(named != nullptr || namedStatus == platform::CRYPT_E_NOT_FOUND,
          "signer 0's certificate is found or CRYPT_E_NOT_FOUND");
  Require((named == nullptr) == (!verified && verifyStatus == platform::CRYPT_E_NOT_FOUND),
          "verification misses the signer certificate exactly when the search does");
  if (named != nullptr) {
    Require(InCollection(*named, *certs), "the named signer is one of the message's certificates");
    Require(TravelsWithItsChain(*named, *certs),
            "the named signer travels with the message's certificates of its chain");
  }
  if (!verified) return;
  Require(named != nullptr && signer->Encoded() == named->Encoded(),
          "the verified signer is the certificate signer 0 names");
  Require(TravelsWithItsChain(*signer, *certs),
          "the verified signer travels with the message's certificates of its chain");
  const bool changedVerifies = platform::CryptVerifyDetachedMessageSignature(
      signature, BytesOf(kChangedDocument), 0, nullptr);
  const uint32_t changedStatus = platform::GetLastError();
  Require(!changedVerifies && (changedStatus == platform::CRYPT_E_HASH_VALUE ||
                               changedStatus == platform::NTE_BAD_SIGNATURE),
          "a signature never verifies over a changed document");
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> blob(bytes + 1, size - 1);
  if ((bytes[0] & 1) == 0) {
    fuzz::CheckSignature(blob);
  } else {
    fuzz::CheckCertificate(blob);
  }
  return 0;
}
