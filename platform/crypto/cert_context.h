#pragma once

// CertContext is the stand-in for a CryptoAPI certificate context: one parsed X.509 certificate
// with CryptoAPI's views of its fields (CERT_INFO):
//  - the serial number as bytes least significant first, every encoded byte kept;
//  - issuer and subject as their DER-encoded Name blobs;
//  - validity as FILETIME (100 ns since 1601, UTC);
//  - extensions in certificate order.
// A context may remember the certificates it travelled with (those of the CMS message it came
// from); the chain engine uses them as intermediates, as CryptoAPI uses a context's own store.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct x509_st;  // OpenSSL's X509, known only inside platform/

namespace platform {

class CertContext;
using CertContextPtr = std::unique_ptr<CertContext>;
namespace detail {
CertContextPtr ImportX509(x509_st* x509);
}  // namespace detail

struct CertExtension {
  std::string oid;  // dotted
  bool critical = false;
  std::vector<uint8_t> value;  // the extension's encoded value (contents of the OCTET STRING)
};

struct CertPublicKeyInfo {
  std::string algorithmOid;  // dotted
  std::vector<uint8_t> key;  // the BIT STRING's bytes
  uint32_t unusedBits = 0;
  std::vector<uint8_t> encoded;  // the whole SubjectPublicKeyInfo, DER
};

struct CertInfo {
  uint32_t version = 0;               // 0, 1, 2 for v1, v2, v3
  std::vector<uint8_t> serialNumber;  // least significant byte first
  std::string signatureAlgorithmOid;  // dotted: the issuer's signature on the certificate
  std::vector<uint8_t> issuer;        // DER Name
  uint64_t notBefore = 0;             // FILETIME
  uint64_t notAfter = 0;              // FILETIME
  std::vector<uint8_t> subject;       // DER Name
  CertPublicKeyInfo subjectPublicKeyInfo;
  std::vector<CertExtension> extensions;
};

// CertTexts are a certificate's names and serial number in the forms a CHECK's answer shows them.
struct CertTexts {
  std::string subjectName;  // surname + " " + given name, or the simple display name
  std::string subject;      // simple form, last relative name first
  std::string subjectX500;  // with X.500 keys, last relative name first
  std::string issuer;
  std::string issuerX500;
  std::string serialNumber;  // upper-case hexadecimal, most significant byte first
};

// CertCollection is a set of certificates shared by the contexts that came from it.
using CertCollection = std::vector<std::shared_ptr<const CertContext>>;

class CertContext {
 public:
  // CertCreateCertificateContext imports one DER certificate. Returns null on failure and sets the
  // last error: CRYPT_E_ASN1_EOD (empty or truncated), CRYPT_E_ASN1_BADTAG (not a certificate).
  static CertContextPtr Create(std::span<const uint8_t> der);

  ~CertContext();
  CertContext(const CertContext&) = delete;
  CertContext& operator=(const CertContext&) = delete;

  const std::vector<uint8_t>& Encoded() const;
  const CertInfo& Info() const;
  // Texts are made at the first call and kept with the decoded certificate: every context of it
  // (its duplicates, the cache's) reads the same ones.
  const CertTexts& Texts() const;
  // Sha256Hash is the SHA-256 of the encoding (CERT_SHA256_HASH_PROP_ID), made at the first call
  // and kept with the decoded certificate.
  const std::array<uint8_t, 32>& Sha256Hash() const;

  // Duplicate returns a context for the same certificate and companions. The decoded certificate
  // (its fields, its key, its texts) is shared, not copied: a duplicate costs one allocation.
  CertContextPtr Duplicate() const;

  // Companions are the certificates this one travelled with; empty when imported on its own.
  const std::shared_ptr<const CertCollection>& Companions() const { return companions; }
  void SetCompanions(std::shared_ptr<const CertCollection> travelledWith) {
    companions = std::move(travelledWith);
  }

  // OpenSsl is the OpenSSL side, for platform/*.cpp only (platform/crypto/detail/cert_native.h).
  struct Native;
  const Native& OpenSsl() const;

 private:
  friend CertContextPtr detail::ImportX509(x509_st* x509);
  // Decoded is what decoding made of the certificate; immutable, shared by its contexts.
  struct Decoded;
  explicit CertContext(std::shared_ptr<const Decoded> decoded);

  std::shared_ptr<const Decoded> decoded;
  std::shared_ptr<const CertCollection> companions;
};

}  // namespace platform
