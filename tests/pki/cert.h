#pragma once

// X.509 certificates for the PKI fixture, described field by field and signed with the issuer's
// key and the digest that key's kind calls for.
//
// Example:
//   CertSpec rootSpec;
//   rootSpec.subject = {{"CN", "Test Root"}, {"O", "Test"}};
//   rootSpec.isCa = true;
//   Cert root = Issue(rootSpec, rootKey, nullptr, rootKey);
//   CertSpec leafSpec;
//   leafSpec.subject = {{"CN", "Signer"}, {"1.2.643.3.131.1.1", "007700000000"}};
//   leafSpec.serial = {0x00, 0x9a, 0x01};
//   Cert leaf = Issue(leafSpec, leafKey, &root, rootKey);

#include <openssl/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/pki/handles.h"
#include "tests/pki/key.h"

namespace tests::pki {

// StringType picks the ASN.1 string type of a name value. kDefault follows OpenSSL's table:
// PrintableString for C, IA5String for emailAddress, NumericString for INN, OGRN, SNILS and
// OGRNIP, UTF8String for the rest.
enum class StringType { kDefault, kUtf8, kPrintable, kBmp, kNumeric, kIa5 };

// NameEntry is one attribute of a distinguished name: `type` is a short name ("CN", "O", "C",
// "emailAddress", "SN", "GN", ...) or a dotted OID, `value` is UTF-8.
struct NameEntry {
  std::string type;
  std::string value;
  StringType stringType = StringType::kDefault;
};

// KeyUsage bits, one per keyUsage bit position (digitalSignature is bit 0).
enum KeyUsage : uint32_t {
  kDigitalSignature = 1u << 0,
  kNonRepudiation = 1u << 1,
  kKeyEncipherment = 1u << 2,
  kDataEncipherment = 1u << 3,
  kKeyAgreement = 1u << 4,
  kKeyCertSign = 1u << 5,
  kCrlSign = 1u << 6,
  kEncipherOnly = 1u << 7,
  kDecipherOnly = 1u << 8,
};

// Extension is an arbitrary extension: dotted `oid`, the criticality and the DER of extnValue's
// contents.
struct Extension {
  std::string oid;
  bool critical = false;
  std::vector<uint8_t> value;
};

enum class CertVersion { kV1, kV3 };

// CertSpec describes a certificate. Times are Unix seconds; those outside 1950-2049 are written
// as GeneralizedTime. A v1 certificate, or a v3 one with `noExtensions`, carries no extensions;
// otherwise the extensions come in this order: subject key identifier, authority key identifier,
// basicConstraints, keyUsage, extKeyUsage, cRLDistributionPoints, authorityInfoAccess, `extra`.
struct CertSpec {
  std::vector<NameEntry> subject;
  // serial holds the DER content octets, most significant first: a leading 0x00 is kept (it must
  // precede a byte with the top bit set, or OpenSSL refuses the certificate and Issue fails),
  // and a 0x00 is added when the first byte has its top bit set.
  std::vector<uint8_t> serial = {0x01};
  // Default validity: from a day before the call to a year after it.
  std::optional<int64_t> notBefore;
  std::optional<int64_t> notAfter;
  CertVersion version = CertVersion::kV3;
  bool noExtensions = false;
  // isCa writes basicConstraints cA=TRUE (critical) with `pathLength` when set; otherwise
  // basicConstraints with cA=FALSE (not critical) unless `omitBasicConstraints`.
  bool isCa = false;
  std::optional<int> pathLength;
  bool omitBasicConstraints = false;
  // keyUsage: KeyUsage bits, written as a critical extension; 0 leaves the extension out.
  uint32_t keyUsage = 0;
  // extendedKeyUsage: dotted OIDs or names ("1.3.6.1.5.5.7.3.4", "emailProtection").
  std::vector<std::string> extendedKeyUsage;
  // URLs: each list becomes a distribution point or an access description per entry.
  std::vector<std::string> crlUrls;
  std::vector<std::string> ocspUrls;
  std::vector<std::string> caIssuersUrls;
  std::vector<Extension> extra;
};

// Cert owns an X509. Copies share the same X509 through its reference count; a
// default-constructed Cert is empty.
class Cert {
 public:
  Cert() = default;
  explicit Cert(X509Ptr owned) : x509(std::move(owned)) {}
  Cert(const Cert& other);
  Cert& operator=(const Cert& other);
  Cert(Cert&&) noexcept = default;
  Cert& operator=(Cert&&) noexcept = default;
  ~Cert() = default;

  // get lends the certificate; null when empty.
  X509* get() const { return x509.get(); }
  explicit operator bool() const { return x509 != nullptr; }
  // Der returns the DER encoding; empty when the certificate is empty.
  std::vector<uint8_t> Der() const;
  // Serial returns the DER content octets of the serial number, most significant first.
  std::vector<uint8_t> Serial() const;

 private:
  X509Ptr x509;
};

// Issue makes the certificate `certSpec` describes for `subjectKey`, issued by `issuerCert` (its
// subject becomes the issuer name) or self-issued when `issuerCert` is null, and signed by
// `issuerKey` with DigestOf(issuerKey.Kind()). The authority key identifier is the issuer's
// subject key identifier, or the SHA-1 of the issuer's public key when it has none. Empty on
// failure (an unknown name type, a value its string type cannot hold); the reason goes to
// standard error.
Cert Issue(const CertSpec& certSpec, const Key& subjectKey, const Cert* issuerCert,
           const Key& issuerKey);

}  // namespace tests::pki
