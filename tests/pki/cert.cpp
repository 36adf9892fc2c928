#include "tests/pki/cert.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>

#include "tests/pki/internal.h"

namespace tests::pki {
namespace {

constexpr int64_t kDay = 24 * 60 * 60;

unsigned long MaskOf(StringType type) {
  switch (type) {
    case StringType::kUtf8:
      return B_ASN1_UTF8STRING;
    case StringType::kPrintable:
      return B_ASN1_PRINTABLESTRING;
    case StringType::kBmp:
      return B_ASN1_BMPSTRING;
    case StringType::kNumeric:
      return B_ASN1_NUMERICSTRING;
    case StringType::kIa5:
      return B_ASN1_IA5STRING;
    case StringType::kDefault:
      break;
  }
  return 0;
}

bool AddNameEntry(X509_NAME* name, const NameEntry& entry) {
  Asn1ObjectPtr type(OBJ_txt2obj(entry.type.c_str(), 0));
  if (!type) return ReportFailure("unknown name type \"" + entry.type + "\"");
  const auto* utf8 = reinterpret_cast<const unsigned char*>(entry.value.data());
  const int length = static_cast<int>(entry.value.size());
  if (entry.stringType == StringType::kDefault) {
    // MBSTRING_UTF8 lets OpenSSL's string table choose the type for the attribute.
    if (X509_NAME_add_entry_by_OBJ(name, type.get(), MBSTRING_UTF8, utf8, length, -1, 0) != 1)
      return ReportFailure("name entry " + entry.type + "=" + entry.value);
    return true;
  }
  ASN1_STRING* converted = nullptr;
  if (ASN1_mbstring_copy(&converted, utf8, length, MBSTRING_UTF8, MaskOf(entry.stringType)) < 0)
    return ReportFailure("value \"" + entry.value + "\" does not fit its string type");
  Asn1StringPtr owner(converted);
  if (X509_NAME_add_entry_by_OBJ(name, type.get(), ASN1_STRING_type(converted),
                                 ASN1_STRING_get0_data(converted), ASN1_STRING_length(converted),
                                 -1, 0) != 1)
    return ReportFailure("name entry " + entry.type + "=" + entry.value);
  return true;
}

Asn1OctetStringPtr OctetString(const std::vector<uint8_t>& bytes) {
  Asn1OctetStringPtr octets(ASN1_OCTET_STRING_new());
  if (!octets ||
      ASN1_OCTET_STRING_set(octets.get(), bytes.data(), static_cast<int>(bytes.size())) != 1)
    return nullptr;
  return octets;
}

GeneralNamePtr UriName(const std::string& url) {
  GeneralNamePtr name(GENERAL_NAME_new());
  Asn1StringPtr uri(ASN1_IA5STRING_new());
  if (!name || !uri || ASN1_STRING_set(uri.get(), url.data(), static_cast<int>(url.size())) != 1)
    return nullptr;
  GENERAL_NAME_set0_value(name.get(), GEN_URI, uri.release());
  return name;
}

bool AddExtension(X509* x509, int nid, void* value, bool critical) {
  if (X509_add1_ext_i2d(x509, nid, value, critical ? 1 : 0, X509V3_ADD_DEFAULT) != 1)
    return ReportFailure(std::string("extension ") + OBJ_nid2sn(nid));
  return true;
}

bool AddKeyIdentifiers(X509* x509, const Key& subjectKey, const Cert* issuerCert,
                       const Key& issuerKey) {
  const std::vector<uint8_t> subjectId = KeyIdentifier(subjectKey.get());
  Asn1OctetStringPtr ski = OctetString(subjectId);
  if (subjectId.empty() || !ski) return ReportFailure("subject key identifier");
  if (!AddExtension(x509, NID_subject_key_identifier, ski.get(), false)) return false;

  // A self-issued certificate names the signing key, which need not be the subject's.
  AuthorityKeyIdPtr aki =
      AuthorityKeyIdOf(issuerCert == nullptr ? KeyIdentifier(issuerKey.get())
                                             : CertKeyIdentifier(issuerCert->get()));
  if (!aki) return ReportFailure("authority key identifier");
  return AddExtension(x509, NID_authority_key_identifier, aki.get(), false);
}

bool AddBasicConstraints(X509* x509, const CertSpec& certSpec) {
  if (!certSpec.isCa && certSpec.omitBasicConstraints) return true;
  BasicConstraintsPtr constraints(BASIC_CONSTRAINTS_new());
  if (!constraints) return ReportFailure("basicConstraints");
  constraints->ca = certSpec.isCa ? 0xff : 0;
  if (certSpec.isCa && certSpec.pathLength) {
    constraints->pathlen = ASN1_INTEGER_new();
    if (constraints->pathlen == nullptr ||
        ASN1_INTEGER_set(constraints->pathlen, *certSpec.pathLength) != 1)
      return ReportFailure("pathLenConstraint");
  }
  return AddExtension(x509, NID_basic_constraints, constraints.get(), certSpec.isCa);
}

bool AddKeyUsage(X509* x509, uint32_t keyUsage) {
  if (keyUsage == 0) return true;
  Asn1BitStringPtr bits(ASN1_BIT_STRING_new());
  if (!bits) return ReportFailure("keyUsage");
  for (int bit = 0; bit < 9; ++bit) {
    if ((keyUsage & (1u << bit)) != 0 && ASN1_BIT_STRING_set_bit(bits.get(), bit, 1) != 1)
      return ReportFailure("keyUsage");
  }
  return AddExtension(x509, NID_key_usage, bits.get(), true);
}

bool AddExtendedKeyUsage(X509* x509, const std::vector<std::string>& oids) {
  if (oids.empty()) return true;
  ExtKeyUsagePtr usage(EXTENDED_KEY_USAGE_new());
  if (!usage) return ReportFailure("extKeyUsage");
  for (const std::string& oid : oids) {
    Asn1ObjectPtr object(OBJ_txt2obj(oid.c_str(), 0));
    if (!object) return ReportFailure("unknown extended key usage \"" + oid + "\"");
    if (sk_ASN1_OBJECT_push(usage.get(), object.get()) <= 0) return ReportFailure("extKeyUsage");
    object.release();  // the stack owns it now
  }
  return AddExtension(x509, NID_ext_key_usage, usage.get(), false);
}

bool AddCrlDistributionPoints(X509* x509, const std::vector<std::string>& urls) {
  if (urls.empty()) return true;
  CrlDistPointsPtr points(CRL_DIST_POINTS_new());
  if (!points) return ReportFailure("cRLDistributionPoints");
  for (const std::string& url : urls) {
    DistPointPtr point(DIST_POINT_new());
    GeneralNamePtr uri = UriName(url);
    if (!point || !uri) return ReportFailure("cRLDistributionPoints");
    point->distpoint = DIST_POINT_NAME_new();
    if (point->distpoint == nullptr) return ReportFailure("cRLDistributionPoints");
    point->distpoint->type = 0;  // fullName
    point->distpoint->name.fullname = GENERAL_NAMES_new();
    if (point->distpoint->name.fullname == nullptr ||
        sk_GENERAL_NAME_push(point->distpoint->name.fullname, uri.get()) <= 0)
      return ReportFailure("cRLDistributionPoints");
    uri.release();  // the name list owns it now
    if (sk_DIST_POINT_push(points.get(), point.get()) <= 0)
      return ReportFailure("cRLDistributionPoints");
    point.release();
  }
  return AddExtension(x509, NID_crl_distribution_points, points.get(), false);
}

bool AddAccessDescriptions(AUTHORITY_INFO_ACCESS* access, int method,
                           const std::vector<std::string>& urls) {
  for (const std::string& url : urls) {
    AccessDescriptionPtr description(ACCESS_DESCRIPTION_new());
    GeneralNamePtr uri = UriName(url);
    if (!description || !uri) return ReportFailure("authorityInfoAccess");
    description->method = OBJ_nid2obj(method);  // a built-in object, never freed
    GENERAL_NAME_free(description->location);
    description->location = uri.release();
    if (sk_ACCESS_DESCRIPTION_push(access, description.get()) <= 0)
      return ReportFailure("authorityInfoAccess");
    description.release();
  }
  return true;
}

bool AddAuthorityInfoAccess(X509* x509, const CertSpec& certSpec) {
  if (certSpec.ocspUrls.empty() && certSpec.caIssuersUrls.empty()) return true;
  AuthorityInfoAccessPtr access(AUTHORITY_INFO_ACCESS_new());
  if (!access) return ReportFailure("authorityInfoAccess");
  if (!AddAccessDescriptions(access.get(), NID_ad_OCSP, certSpec.ocspUrls) ||
      !AddAccessDescriptions(access.get(), NID_ad_ca_issuers, certSpec.caIssuersUrls))
    return false;
  return AddExtension(x509, NID_info_access, access.get(), false);
}

bool AddExtraExtension(X509* x509, const Extension& extension) {
  Asn1ObjectPtr oid(OBJ_txt2obj(extension.oid.c_str(), 1));
  Asn1OctetStringPtr value = OctetString(extension.value);
  if (!oid || !value) return ReportFailure("extension " + extension.oid);
  X509ExtensionPtr made(
      X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), extension.critical ? 1 : 0, value.get()));
  if (!made || X509_add_ext(x509, made.get(), -1) != 1)
    return ReportFailure("extension " + extension.oid);
  return true;
}

bool AddExtensions(X509* x509, const CertSpec& certSpec, const Key& subjectKey,
                   const Cert* issuerCert, const Key& issuerKey) {
  if (!AddKeyIdentifiers(x509, subjectKey, issuerCert, issuerKey) ||
      !AddBasicConstraints(x509, certSpec) || !AddKeyUsage(x509, certSpec.keyUsage) ||
      !AddExtendedKeyUsage(x509, certSpec.extendedKeyUsage) ||
      !AddCrlDistributionPoints(x509, certSpec.crlUrls) || !AddAuthorityInfoAccess(x509, certSpec))
    return false;
  for (const Extension& extension : certSpec.extra) {
    if (!AddExtraExtension(x509, extension)) return false;
  }
  return true;
}

}  // namespace

Cert::Cert(const Cert& other) {
  if (other.x509 && X509_up_ref(other.x509.get()) == 1) x509.reset(other.x509.get());
}

Cert& Cert::operator=(const Cert& other) {
  if (this != &other) *this = Cert(other);
  return *this;
}

std::vector<uint8_t> Cert::Der() const {
  if (!x509) return {};
  return EncodeDer(x509.get(), i2d_X509);
}

std::vector<uint8_t> Cert::Serial() const {
  if (!x509) return {};
  const ASN1_INTEGER* serial = X509_get0_serialNumber(x509.get());
  const unsigned char* data = ASN1_STRING_get0_data(serial);
  std::vector<uint8_t> octets(data, data + ASN1_STRING_length(serial));
  // OpenSSL keeps the magnitude; DER puts a 0x00 in front of a top bit.
  if (!octets.empty() && (octets.front() & 0x80) != 0) octets.insert(octets.begin(), 0x00);
  return octets;
}

Cert Issue(const CertSpec& certSpec, const Key& subjectKey, const Cert* issuerCert,
           const Key& issuerKey) {
  if (!subjectKey || !issuerKey || (issuerCert != nullptr && !*issuerCert)) {
    ReportFailure("Issue: missing key or issuer");
    return {};
  }
  const EVP_MD* digest = DigestOf(issuerKey.Kind());
  X509Ptr x509(X509_new());
  X509NamePtr subject(X509_NAME_new());
  Asn1IntegerPtr serial = Asn1IntegerOf(certSpec.serial);
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  Asn1TimePtr notBefore = Asn1TimeOf(certSpec.notBefore.value_or(now - kDay));
  Asn1TimePtr notAfter = Asn1TimeOf(certSpec.notAfter.value_or(now + 365 * kDay));
  if (digest == nullptr || !x509 || !subject || !serial || !notBefore || !notAfter) {
    ReportFailure("Issue: certificate fields");
    return {};
  }
  for (const NameEntry& entry : certSpec.subject) {
    if (!AddNameEntry(subject.get(), entry)) return {};
  }
  const X509_NAME* issuerName =
      issuerCert != nullptr ? X509_get_subject_name(issuerCert->get()) : subject.get();
  const bool v3 = certSpec.version == CertVersion::kV3;
  if (X509_set_version(x509.get(), v3 ? X509_VERSION_3 : X509_VERSION_1) != 1 ||
      X509_set_serialNumber(x509.get(), serial.get()) != 1 ||
      X509_set_subject_name(x509.get(), subject.get()) != 1 ||
      X509_set_issuer_name(x509.get(), issuerName) != 1 ||
      X509_set1_notBefore(x509.get(), notBefore.get()) != 1 ||
      X509_set1_notAfter(x509.get(), notAfter.get()) != 1 ||
      X509_set_pubkey(x509.get(), subjectKey.get()) != 1) {
    ReportFailure("Issue: certificate fields");
    return {};
  }
  if (v3 && !certSpec.noExtensions &&
      !AddExtensions(x509.get(), certSpec, subjectKey, issuerCert, issuerKey))
    return {};
  if (X509_sign(x509.get(), issuerKey.get(), digest) <= 0) {
    ReportFailure("Issue: X509_sign with " + std::string(KeyKindName(issuerKey.Kind())));
    return {};
  }
  // Parsed back from its DER, the certificate holds what any reader sees: the serial without the
  // 0x00 a top bit needs, cached extensions, the encoding the signature covers.
  const std::vector<uint8_t> der = EncodeDer(x509.get(), i2d_X509);
  const unsigned char* p = der.data();
  X509Ptr parsed(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!parsed) {
    ReportFailure("Issue: OpenSSL cannot parse the certificate it made (a non-minimal serial?)");
    return {};
  }
  return Cert(std::move(parsed));
}

}  // namespace tests::pki
