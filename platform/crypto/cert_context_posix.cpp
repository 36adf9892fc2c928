#include <openssl/asn1.h>
#include <openssl/err.h>

#include <algorithm>
#include <ctime>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/base/win_time.h"
#include "platform/crypto/asn1_blob.h"
#include "platform/crypto/cert_context.h"
#include "platform/crypto/crypto_library.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/sha256.h"

namespace platform {
namespace detail {

std::string ObjectText(const ASN1_OBJECT* object) {
  char small[128];
  const int length = OBJ_obj2txt(small, sizeof small, object, 1);
  if (length < 0) return {};
  if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  OBJ_obj2txt(text.data(), static_cast<int>(text.size()), object, 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

uint32_t DecodeFailureStatus() {
  bool ranOut = false;
  // Nested decoders each queue a "nested asn1 error" over the reason of the innermost one, so
  // every queued reason counts.
  while (const unsigned long error = ERR_get_error()) {
    if (ERR_GET_LIB(error) != ERR_LIB_ASN1) continue;
    switch (ERR_GET_REASON(error)) {
      case ASN1_R_HEADER_TOO_LONG:
      case ASN1_R_TOO_LONG:
      case ASN1_R_MISSING_EOC:
      case ASN1_R_NOT_ENOUGH_DATA:
        ranOut = true;
        break;
      default:
        break;
    }
  }
  return ranOut ? CRYPT_E_ASN1_EOD : CRYPT_E_ASN1_BADTAG;
}

std::string HttpUrl(const GENERAL_NAME* name) {
  if (name == nullptr || name->type != GEN_URI) return {};
  const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
  std::string url(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                  static_cast<size_t>(ASN1_STRING_length(uri)));
  const bool http = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
  return http ? url : std::string();
}

}  // namespace detail

namespace {

std::vector<uint8_t> NameDer(const X509_NAME* name) {
  const unsigned char* der = nullptr;
  size_t length = 0;
  if (X509_NAME_get0_der(const_cast<X509_NAME*>(name), &der, &length) != 1) return {};
  return std::vector<uint8_t>(der, der + length);
}

// FileTimeOf converts an ASN1_TIME (UTCTime or GeneralizedTime, UTC) to a FILETIME.
uint64_t FileTimeOf(const ASN1_TIME* time) {
  std::tm broken{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &broken) != 1) return 0;
  SystemTime system;
  system.year = static_cast<uint16_t>(broken.tm_year + 1900);
  system.month = static_cast<uint16_t>(broken.tm_mon + 1);
  system.day = static_cast<uint16_t>(broken.tm_mday);
  system.hour = static_cast<uint16_t>(broken.tm_hour);
  system.minute = static_cast<uint16_t>(broken.tm_min);
  system.second = static_cast<uint16_t>(broken.tm_sec);
  return SystemTimeToFileTime(system).value_or(0);
}

CertInfo InfoOf(X509* x509) {
  CertInfo info;
  info.version = static_cast<uint32_t>(X509_get_version(x509));
  // The serial as encoded (a leading zero byte included), least significant byte first.
  const ASN1_INTEGER* serial = X509_get0_serialNumber(x509);
  unsigned char* serialDer = nullptr;
  const int serialLength = i2d_ASN1_INTEGER(serial, &serialDer);
  if (serialLength > 2) {
    const unsigned char* p = serialDer;
    long contentLength = 0;
    int tag = 0, xclass = 0;
    ASN1_get_object(&p, &contentLength, &tag, &xclass, serialLength);
    info.serialNumber.assign(p, p + contentLength);
    std::reverse(info.serialNumber.begin(), info.serialNumber.end());
  }
  OPENSSL_free(serialDer);

  const X509_ALGOR* signatureAlgorithm = nullptr;
  X509_get0_signature(nullptr, &signatureAlgorithm, x509);
  const ASN1_OBJECT* algorithmObject = nullptr;
  X509_ALGOR_get0(&algorithmObject, nullptr, nullptr, signatureAlgorithm);
  info.signatureAlgorithmOid = detail::ObjectText(algorithmObject);

  info.issuer = NameDer(X509_get_issuer_name(x509));
  info.subject = NameDer(X509_get_subject_name(x509));
  info.notBefore = FileTimeOf(X509_get0_notBefore(x509));
  info.notAfter = FileTimeOf(X509_get0_notAfter(x509));

  X509_PUBKEY* publicKey = X509_get_X509_PUBKEY(x509);
  const ASN1_OBJECT* keyObject = nullptr;
  const unsigned char* keyBytes = nullptr;
  int keyLength = 0;
  X509_ALGOR* keyAlgorithm = nullptr;
  if (X509_PUBKEY_get0_param(const_cast<ASN1_OBJECT**>(&keyObject), &keyBytes, &keyLength,
                             &keyAlgorithm, publicKey) == 1) {
    info.subjectPublicKeyInfo.algorithmOid = detail::ObjectText(keyObject);
    info.subjectPublicKeyInfo.key.assign(keyBytes, keyBytes + keyLength);
  }
  // The unused-bit count of the key's BIT STRING, read from the encoding.
  unsigned char* spkiDer = nullptr;
  const int spkiLength = i2d_X509_PUBKEY(publicKey, &spkiDer);
  if (spkiLength > 0) {
    info.subjectPublicKeyInfo.encoded.assign(spkiDer, spkiDer + spkiLength);
    const size_t bitStringPrefix = static_cast<size_t>(keyLength) + 1;
    if (static_cast<size_t>(spkiLength) > bitStringPrefix) {
      info.subjectPublicKeyInfo.unusedBits = spkiDer[spkiLength - bitStringPrefix];
    }
  }
  OPENSSL_free(spkiDer);

  for (int i = 0; i < X509_get_ext_count(x509); ++i) {
    const X509_EXTENSION* extension = X509_get_ext(x509, i);
    CertExtension out;
    out.oid = detail::ObjectText(X509_EXTENSION_get_object(const_cast<X509_EXTENSION*>(extension)));
    out.critical = X509_EXTENSION_get_critical(extension) == 1;
    const ASN1_OCTET_STRING* value =
        X509_EXTENSION_get_data(const_cast<X509_EXTENSION*>(extension));
    out.value.assign(ASN1_STRING_get0_data(value),
                     ASN1_STRING_get0_data(value) + ASN1_STRING_length(value));
    info.extensions.push_back(std::move(out));
  }
  return info;
}

}  // namespace

CertContext::CertContext(std::shared_ptr<const Decoded> decodedCertificate)
    : decoded(std::move(decodedCertificate)) {}
CertContext::~CertContext() = default;

const std::vector<uint8_t>& CertContext::Encoded() const { return decoded->encoded; }
const CertInfo& CertContext::Info() const { return decoded->info; }
const CertContext::Native& CertContext::OpenSsl() const { return decoded->native; }

const CertTexts& CertContext::Texts() const {
  std::call_once(decoded->textsMade, [this] { decoded->texts = detail::MakeCertTexts(*this); });
  return decoded->texts;
}

const std::array<uint8_t, 32>& CertContext::Sha256Hash() const {
  std::call_once(decoded->hashMade, [this] { decoded->sha256 = Sha256(decoded->encoded); });
  return decoded->sha256;
}

CertContextPtr CertContext::Create(std::span<const uint8_t> der) {
  EnsureCryptoLibrary();
  if (const uint32_t status = Asn1BlobStatus(der); status != 0) {
    SetLastError(status);
    return nullptr;
  }
  const unsigned char* p = der.data();
  ERR_clear_error();
  detail::X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!x509) {
    SetLastError(detail::DecodeFailureStatus());
    return nullptr;
  }
  auto made = std::make_shared<Decoded>();
  made->encoded.assign(der.data(), p);  // trailing bytes after the certificate are not kept
  made->info = InfoOf(x509.get());
  made->native.x509 = std::move(x509);
  return CertContextPtr(new CertContext(std::move(made)));
}

CertContextPtr CertContext::Duplicate() const {
  CertContextPtr copy(new CertContext(decoded));
  copy->companions = companions;
  return copy;
}

namespace detail {

CertContextPtr ImportX509(X509* x509) {
  unsigned char* der = nullptr;
  const int length = i2d_X509(x509, &der);
  if (length <= 0) return nullptr;
  auto made = std::make_shared<CertContext::Decoded>();
  made->encoded.assign(der, der + length);
  OPENSSL_free(der);
  made->info = InfoOf(x509);
  X509_up_ref(x509);
  made->native.x509.reset(x509);
  return CertContextPtr(new CertContext(std::move(made)));
}

}  // namespace detail
}  // namespace platform
