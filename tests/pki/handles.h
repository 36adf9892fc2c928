#pragma once

// Owning pointers for the OpenSSL handles the PKI fixture and its tests hold. Each handle is
// wrapped on the line that creates it; types freed by a macro get a named function.
//
// Example:
//   tests::pki::X509Ptr cert(d2i_X509(nullptr, &p, length));
//   if (!cert) return false;

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace tests::pki {

template <auto Free>
struct FreeWith {
  void operator()(auto* p) const { Free(p); }
};

// FreeX509Stack frees `certs` and every certificate in it.
inline void FreeX509Stack(STACK_OF(X509) * certs) { sk_X509_pop_free(certs, X509_free); }

// FreeOpenSslBytes frees memory OpenSSL allocated (OPENSSL_free is a macro).
inline void FreeOpenSslBytes(unsigned char* bytes) { OPENSSL_free(bytes); }

using Asn1BitStringPtr = std::unique_ptr<ASN1_BIT_STRING, FreeWith<ASN1_BIT_STRING_free>>;
using Asn1EnumeratedPtr = std::unique_ptr<ASN1_ENUMERATED, FreeWith<ASN1_ENUMERATED_free>>;
using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, FreeWith<ASN1_INTEGER_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, FreeWith<ASN1_OBJECT_free>>;
using Asn1OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, FreeWith<ASN1_OCTET_STRING_free>>;
using Asn1StringPtr = std::unique_ptr<ASN1_STRING, FreeWith<ASN1_STRING_free>>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, FreeWith<ASN1_TIME_free>>;
using AccessDescriptionPtr = std::unique_ptr<ACCESS_DESCRIPTION, FreeWith<ACCESS_DESCRIPTION_free>>;
using AuthorityInfoAccessPtr =
    std::unique_ptr<AUTHORITY_INFO_ACCESS, FreeWith<AUTHORITY_INFO_ACCESS_free>>;
using AuthorityKeyIdPtr = std::unique_ptr<AUTHORITY_KEYID, FreeWith<AUTHORITY_KEYID_free>>;
using BasicConstraintsPtr = std::unique_ptr<BASIC_CONSTRAINTS, FreeWith<BASIC_CONSTRAINTS_free>>;
using BioPtr = std::unique_ptr<BIO, FreeWith<BIO_free_all>>;
using CmsContentInfoPtr = std::unique_ptr<CMS_ContentInfo, FreeWith<CMS_ContentInfo_free>>;
using CrlDistPointsPtr = std::unique_ptr<CRL_DIST_POINTS, FreeWith<CRL_DIST_POINTS_free>>;
using DistPointPtr = std::unique_ptr<DIST_POINT, FreeWith<DIST_POINT_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using ExtendedKeyUsagePtr = std::unique_ptr<EXTENDED_KEY_USAGE, FreeWith<EXTENDED_KEY_USAGE_free>>;
using GeneralNamePtr = std::unique_ptr<GENERAL_NAME, FreeWith<GENERAL_NAME_free>>;
using OcspBasicRespPtr = std::unique_ptr<OCSP_BASICRESP, FreeWith<OCSP_BASICRESP_free>>;
using OcspCertIdPtr = std::unique_ptr<OCSP_CERTID, FreeWith<OCSP_CERTID_free>>;
using OcspResponsePtr = std::unique_ptr<OCSP_RESPONSE, FreeWith<OCSP_RESPONSE_free>>;
using OpenSslBytesPtr = std::unique_ptr<unsigned char, FreeWith<FreeOpenSslBytes>>;
using X509CrlPtr = std::unique_ptr<X509_CRL, FreeWith<X509_CRL_free>>;
using X509ExtensionPtr = std::unique_ptr<X509_EXTENSION, FreeWith<X509_EXTENSION_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, FreeWith<X509_NAME_free>>;
using X509Ptr = std::unique_ptr<X509, FreeWith<X509_free>>;
using X509PubkeyPtr = std::unique_ptr<X509_PUBKEY, FreeWith<X509_PUBKEY_free>>;
using X509RevokedPtr = std::unique_ptr<X509_REVOKED, FreeWith<X509_REVOKED_free>>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), FreeWith<FreeX509Stack>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, FreeWith<X509_STORE_CTX_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, FreeWith<X509_STORE_free>>;

}  // namespace tests::pki
