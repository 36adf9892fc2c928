#pragma once

// CertContext is the stand-in for a CryptoAPI certificate context: one parsed X.509 certificate
// with CryptoAPI's views of its fields (CERT_INFO):
//  - the serial number as bytes least significant first, every encoded byte kept;
//  - issuer and subject as their DER-encoded Name blobs;
//  - validity as FILETIME (100 ns since 1601, UTC);
//  - extensions in certificate order.
// A context may remember the certificates it travelled with (those of the CMS message it came
// from); the chain engine uses them as intermediates, as CryptoAPI uses a context's own store.

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

  const std::vector<uint8_t>& Encoded() const { return encoded; }
  const CertInfo& Info() const { return info; }

  // Duplicate returns an independent context for the same certificate and companions.
  CertContextPtr Duplicate() const;

  // Companions are the certificates this one travelled with; empty when imported on its own.
  const std::shared_ptr<const CertCollection>& Companions() const { return companions; }
  void SetCompanions(std::shared_ptr<const CertCollection> travelledWith) {
    companions = std::move(travelledWith);
  }

  // OpenSsl is the OpenSSL side, for platform/*.cpp only (platform/detail/cert_native.h).
  struct Native;
  const Native& OpenSsl() const { return *native; }

 private:
  friend CertContextPtr detail::ImportX509(x509_st* x509);
  CertContext();

  std::vector<uint8_t> encoded;
  CertInfo info;
  std::unique_ptr<Native> native;
  std::shared_ptr<const CertCollection> companions;
};

}  // namespace platform
