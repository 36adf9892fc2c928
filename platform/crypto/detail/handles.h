#pragma once

// Owning aliases for the C handles of OpenSSL. Every handle is wrapped on the line that creates
// it. Besides platform/crypto/*.cpp only the code that calls OpenSSL itself to check us includes
// this header: the PKI fixture of the tests, the fuzz targets and the benchmarks' baselines.

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace platform::detail {

template <auto Free>
struct FreeWith {
  void operator()(auto* p) const { Free(p); }
};

inline void FreeX509Stack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
inline void FreeString(char* text) { OPENSSL_free(text); }
inline void FreeBytes(unsigned char* bytes) { OPENSSL_free(bytes); }
inline void FreeStringStack(STACK_OF(OPENSSL_STRING) * stack) { X509_email_free(stack); }

using AccessDescriptionPtr = std::unique_ptr<ACCESS_DESCRIPTION, FreeWith<ACCESS_DESCRIPTION_free>>;
using Asn1BitStringPtr = std::unique_ptr<ASN1_BIT_STRING, FreeWith<ASN1_BIT_STRING_free>>;
using Asn1EnumeratedPtr = std::unique_ptr<ASN1_ENUMERATED, FreeWith<ASN1_ENUMERATED_free>>;
using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, FreeWith<ASN1_INTEGER_free>>;
using Asn1OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, FreeWith<ASN1_OCTET_STRING_free>>;
using Asn1StringPtr = std::unique_ptr<ASN1_STRING, FreeWith<ASN1_STRING_free>>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, FreeWith<ASN1_TIME_free>>;
using AuthorityKeyIdPtr = std::unique_ptr<AUTHORITY_KEYID, FreeWith<AUTHORITY_KEYID_free>>;
using BasicConstraintsPtr = std::unique_ptr<BASIC_CONSTRAINTS, FreeWith<BASIC_CONSTRAINTS_free>>;
using BioPtr = std::unique_ptr<BIO, FreeWith<BIO_free_all>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, FreeWith<CMS_ContentInfo_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, FreeWith<X509_free>>;
using X509ExtensionPtr = std::unique_ptr<X509_EXTENSION, FreeWith<X509_EXTENSION_free>>;
using X509RevokedPtr = std::unique_ptr<X509_REVOKED, FreeWith<X509_REVOKED_free>>;
using X509CrlPtr = std::unique_ptr<X509_CRL, FreeWith<X509_CRL_free>>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), FreeWith<FreeX509Stack>>;
using X509StorePtr = std::unique_ptr<X509_STORE, FreeWith<X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, FreeWith<X509_STORE_CTX_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, FreeWith<X509_NAME_free>>;
using X509PubkeyPtr = std::unique_ptr<X509_PUBKEY, FreeWith<X509_PUBKEY_free>>;
using Asn1TypePtr = std::unique_ptr<ASN1_TYPE, FreeWith<ASN1_TYPE_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, FreeWith<ASN1_OBJECT_free>>;
using ExtKeyUsagePtr = std::unique_ptr<EXTENDED_KEY_USAGE, FreeWith<EXTENDED_KEY_USAGE_free>>;
using AuthorityInfoAccessPtr =
    std::unique_ptr<AUTHORITY_INFO_ACCESS, FreeWith<AUTHORITY_INFO_ACCESS_free>>;
using CrlDistPointsPtr = std::unique_ptr<CRL_DIST_POINTS, FreeWith<CRL_DIST_POINTS_free>>;
using DistPointPtr = std::unique_ptr<DIST_POINT, FreeWith<DIST_POINT_free>>;
using GeneralNamePtr = std::unique_ptr<GENERAL_NAME, FreeWith<GENERAL_NAME_free>>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, FreeWith<GENERAL_NAMES_free>>;
using OcspRequestPtr = std::unique_ptr<OCSP_REQUEST, FreeWith<OCSP_REQUEST_free>>;
using OcspResponsePtr = std::unique_ptr<OCSP_RESPONSE, FreeWith<OCSP_RESPONSE_free>>;
using OcspBasicResponsePtr = std::unique_ptr<OCSP_BASICRESP, FreeWith<OCSP_BASICRESP_free>>;
using OcspCertIdPtr = std::unique_ptr<OCSP_CERTID, FreeWith<OCSP_CERTID_free>>;
using OpenSslStringStackPtr = std::unique_ptr<STACK_OF(OPENSSL_STRING), FreeWith<FreeStringStack>>;
using OpenSslStringPtr = std::unique_ptr<char, FreeWith<FreeString>>;
using OpenSslBytesPtr = std::unique_ptr<unsigned char, FreeWith<FreeBytes>>;

}  // namespace platform::detail
