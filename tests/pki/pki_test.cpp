// Checks what the PKI fixture makes with OpenSSL's own parsers and verifiers, and its HTTP server
// with libcurl. Expected OIDs and string types come from the algorithm and X.509 standards.

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/ocsp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "tests/pki/cert.h"
#include "tests/pki/cms.h"
#include "tests/pki/crl.h"
#include "tests/pki/handles.h"
#include "tests/pki/http_server.h"
#include "tests/pki/key.h"
#include "tests/pki/ocsp.h"
#include "tests/pki/raw_signature.h"

namespace tests::pki {
namespace {

constexpr int64_t kDay = 24 * 60 * 60;

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string OidOf(const ASN1_OBJECT* object) {
  char text[128];
  OBJ_obj2txt(text, sizeof text, object, 1);
  return text;
}

// Chain is a root CA, an intermediate CA and an end certificate, all with keys of one kind.
struct Chain {
  Key rootKey, caKey, leafKey;
  Cert root, ca, leaf;
};

Chain MakeChain(KeyKind kind) {
  Chain chain{CachedKey(kind, 0), CachedKey(kind, 1), CachedKey(kind, 2), {}, {}, {}};
  // Names carry the kind, so that chains of different kinds never share an issuer and serial.
  const std::string name(KeyKindName(kind));
  CertSpec root;
  root.subject = {{"CN", "Root " + name}, {"O", "Quilmarend tests"}};
  root.isCa = true;
  root.keyUsage = kKeyCertSign | kCrlSign;
  chain.root = Issue(root, chain.rootKey, nullptr, chain.rootKey);
  CertSpec ca = root;
  ca.subject = {{"CN", "Intermediate " + name}};
  ca.serial = {0x02};
  chain.ca = Issue(ca, chain.caKey, &chain.root, chain.rootKey);
  CertSpec leaf;
  leaf.subject = {{"CN", "Signer " + name}};
  leaf.serial = {0x00, 0x9a, 0x01};
  leaf.keyUsage = kDigitalSignature | kNonRepudiation;
  chain.leaf = Issue(leaf, chain.leafKey, &chain.ca, chain.caKey);
  return chain;
}

// PushCert adds a reference to `cert` to `certs`.
bool PushCert(STACK_OF(X509) * certs, const Cert& cert) {
  if (X509_up_ref(cert.get()) != 1) return false;
  X509Ptr reference(cert.get());
  if (sk_X509_push(certs, reference.get()) <= 0) return false;
  reference.release();  // the stack owns it now
  return true;
}

X509Ptr ParseCert(const std::vector<uint8_t>& der) {
  const unsigned char* p = der.data();
  return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

X509CrlPtr ParseCrl(const std::vector<uint8_t>& der) {
  const unsigned char* p = der.data();
  return X509CrlPtr(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
}

// VerifyChain runs X509_verify_cert on `chain.leaf` with the root trusted and the intermediate
// untrusted; with `crls`, revocation is checked along the whole chain. Returns the error.
int VerifyChain(const Chain& chain, const std::vector<std::vector<uint8_t>>& crls = {}) {
  X509StorePtr store(X509_STORE_new());
  X509StackPtr untrusted(sk_X509_new_null());
  X509StoreCtxPtr context(X509_STORE_CTX_new());
  if (!store || !untrusted || !context || X509_STORE_add_cert(store.get(), chain.root.get()) != 1)
    return -1;
  for (const std::vector<uint8_t>& der : crls) {
    X509CrlPtr crl = ParseCrl(der);
    if (!crl || X509_STORE_add_crl(store.get(), crl.get()) != 1) return -1;
  }
  if (!crls.empty())
    X509_STORE_set_flags(store.get(), X509_V_FLAG_CRL_CHECK_ALL | X509_V_FLAG_CRL_CHECK);
  if (!PushCert(untrusted.get(), chain.ca) ||
      X509_STORE_CTX_init(context.get(), store.get(), chain.leaf.get(), untrusted.get()) != 1)
    return -1;
  X509_verify_cert(context.get());
  return X509_STORE_CTX_get_error(context.get());
}

struct KindCase {
  KeyKind kind;
  std::string_view certSignature;  // signatureAlgorithm of certificates and CRLs
  std::string_view cmsDigest;      // SignerInfo digestAlgorithm
  std::string_view cmsSignature;   // SignerInfo signatureAlgorithm
  size_t rawSignatureSize;         // 0: varies (DER ECDSA)
  size_t hashSize;
};

const KindCase kKindCases[] = {
    // GOST R 34.11-94 with 34.10-2001; CMS names the key algorithm, not the pair.
    {KeyKind::kGost2001, "1.2.643.2.2.3", "1.2.643.2.2.9", "1.2.643.2.2.19", 64, 32},
    // GOST R 34.10-2012 with 34.11-2012 (256 and 512 bits).
    {KeyKind::kGost2012_256, "1.2.643.7.1.1.3.2", "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.1.1", 64, 32},
    {KeyKind::kGost2012_512, "1.2.643.7.1.1.3.3", "1.2.643.7.1.1.2.3", "1.2.643.7.1.1.1.2", 128,
     64},
    // sha256WithRSAEncryption; CMS writes rsaEncryption.
    {KeyKind::kRsa2048, "1.2.840.113549.1.1.11", "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.1",
     256, 32},
    // ecdsa-with-SHA256 in both.
    {KeyKind::kEcdsaP256, "1.2.840.10045.4.3.2", "2.16.840.1.101.3.4.2.1", "1.2.840.10045.4.3.2", 0,
     32},
};

TEST(PkiFixture, ChainVerifiesAndCrlRevokesForEveryKeyKind) {
  for (const KindCase& c : kKindCases) {
    SCOPED_TRACE(KeyKindName(c.kind));
    const Chain chain = MakeChain(c.kind);
    ASSERT_TRUE(chain.root && chain.ca && chain.leaf);
    EXPECT_EQ(OidOf(OBJ_nid2obj(X509_get_signature_nid(chain.leaf.get()))), c.certSignature);
    EXPECT_EQ(VerifyChain(chain), X509_V_OK);

    const int64_t now = Now();
    const std::vector<uint8_t> rootCrl = MakeCrl(chain.root, chain.rootKey, {}, now, now + kDay);
    const std::vector<uint8_t> caCrl =
        MakeCrl(chain.ca, chain.caKey, {{chain.leaf.Serial(), now - 60, 1}}, now, now + kDay);
    ASSERT_FALSE(rootCrl.empty());
    ASSERT_FALSE(caCrl.empty());
    EXPECT_EQ(VerifyChain(chain, {rootCrl, caCrl}), X509_V_ERR_CERT_REVOKED);
  }
}

TEST(PkiFixture, CertificateFieldsReachTheDer) {
  CertSpec certSpec;
  certSpec.subject = {{"CN", "Иванов"}, {"C", "RU"}};
  certSpec.serial = {0x00, 0x9a, 0x01};
  certSpec.notBefore = -20 * 365 * kDay;  // 1950, still UTCTime
  certSpec.notAfter = 4102444800;         // 2100-01-01, GeneralizedTime
  certSpec.crlUrls = {"http://127.0.0.1:1/a.crl"};
  certSpec.ocspUrls = {"http://127.0.0.1:1/ocsp"};
  const Key key = CachedKey(KeyKind::kEcdsaP256);
  const Cert cert = Issue(certSpec, key, nullptr, key);
  ASSERT_TRUE(cert);
  const std::vector<uint8_t> der = cert.Der();
  X509Ptr parsed = ParseCert(der);
  ASSERT_TRUE(parsed);

  // The serial keeps its leading 0x00 (needed here, as 0x9a has the top bit set).
  const std::vector<uint8_t> serialTlv = {0x02, 0x03, 0x00, 0x9a, 0x01};
  EXPECT_NE(std::search(der.begin(), der.end(), serialTlv.begin(), serialTlv.end()), der.end());
  EXPECT_EQ(ASN1_STRING_type(X509_get0_notBefore(parsed.get())), V_ASN1_UTCTIME);
  EXPECT_EQ(ASN1_STRING_type(X509_get0_notAfter(parsed.get())), V_ASN1_GENERALIZEDTIME);
  EXPECT_EQ(X509_cmp_time(X509_get0_notAfter(parsed.get()), nullptr), 1);

  std::unique_ptr<STACK_OF(OPENSSL_STRING), FreeWith<X509_email_free>> ocsp(
      X509_get1_ocsp(parsed.get()));
  ASSERT_EQ(sk_OPENSSL_STRING_num(ocsp.get()), 1);
  EXPECT_STREQ(sk_OPENSSL_STRING_value(ocsp.get(), 0), "http://127.0.0.1:1/ocsp");
  CrlDistPointsPtr points(static_cast<CRL_DIST_POINTS*>(
      X509_get_ext_d2i(parsed.get(), NID_crl_distribution_points, nullptr, nullptr)));
  ASSERT_EQ(sk_DIST_POINT_num(points.get()), 1);
  const GENERAL_NAME* uri =
      sk_GENERAL_NAME_value(sk_DIST_POINT_value(points.get(), 0)->distpoint->name.fullname, 0);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(
                                 ASN1_STRING_get0_data(uri->d.uniformResourceIdentifier)),
                             ASN1_STRING_length(uri->d.uniformResourceIdentifier)),
            "http://127.0.0.1:1/a.crl");

  certSpec.version = CertVersion::kV1;
  X509Ptr v1 = ParseCert(Issue(certSpec, key, nullptr, key).Der());
  ASSERT_TRUE(v1);
  EXPECT_EQ(X509_get_version(v1.get()), X509_VERSION_1);
  EXPECT_EQ(X509_get_ext_count(v1.get()), 0);
}

TEST(PkiFixture, NameValuesTakeTheirStringTypes) {
  struct Case {
    NameEntry entry;
    int type;
  };
  const Case kCases[] = {
      {{"CN", "Иванов"}, V_ASN1_UTF8STRING},
      {{"C", "RU"}, V_ASN1_PRINTABLESTRING},
      {{"emailAddress", "a@example.ru"}, V_ASN1_IA5STRING},
      // OGRN, INN and SNILS are digit strings in Russian certificates.
      {{"1.2.643.100.1", "1027700132195"}, V_ASN1_NUMERICSTRING},
      {{"1.2.643.3.131.1.1", "007710474375"}, V_ASN1_NUMERICSTRING},
      {{"1.2.643.100.3", "12345678901"}, V_ASN1_NUMERICSTRING},
      // An OID OpenSSL does not know gets UTF8String.
      {{"1.2.643.100.111", "КриптоПро"}, V_ASN1_UTF8STRING},
      {{"CN", "Иванов", StringType::kBmp}, V_ASN1_BMPSTRING},
      {{"SN", "Ivanov", StringType::kPrintable}, V_ASN1_PRINTABLESTRING},
      {{"GN", "Ivan", StringType::kIa5}, V_ASN1_IA5STRING},
      {{"1.2.643.3.131.1.1", "007710474375", StringType::kUtf8}, V_ASN1_UTF8STRING},
  };
  const Key key = CachedKey(KeyKind::kGost2001);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.entry.type + "=" + c.entry.value);
    CertSpec certSpec;
    certSpec.subject = {c.entry};
    X509Ptr parsed = ParseCert(Issue(certSpec, key, nullptr, key).Der());
    ASSERT_TRUE(parsed);
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(X509_get_subject_name(parsed.get()), 0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(OidOf(X509_NAME_ENTRY_get_object(entry)),
              OidOf(Asn1ObjectPtr(OBJ_txt2obj(c.entry.type.c_str(), 0)).get()));
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
    EXPECT_EQ(ASN1_STRING_type(value), c.type);
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    OpenSslBytesPtr owner(utf8);
    ASSERT_GE(length, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(utf8), length), c.entry.value);
  }

  const NameEntry kRefused[] = {
      {"XX", "unknown attribute name"},
      {"1.2.643.100.1", "10277O0132195", StringType::kNumeric},  // a letter O among digits
      {"C", "РФ", StringType::kPrintable},                       // Cyrillic is not printable
  };
  for (const NameEntry& entry : kRefused) {
    SCOPED_TRACE(entry.type + "=" + entry.value);
    CertSpec certSpec;
    certSpec.subject = {entry};
    EXPECT_FALSE(Issue(certSpec, key, nullptr, key));
  }
}

// VerifyCms runs CMS_verify on `signature` over `data`, trusting `chain.root`, with the
// message's own certificates plus `extra` as untrusted ones.
bool VerifyCms(const std::vector<uint8_t>& signature, const std::vector<uint8_t>& data,
               const Chain& chain, const std::vector<Cert>& extra = {}) {
  const unsigned char* p = signature.data();
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signature.size())));
  X509StorePtr store(X509_STORE_new());
  X509StackPtr certs(sk_X509_new_null());
  BioPtr content(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  if (!cms || !store || !certs || !content ||
      X509_STORE_add_cert(store.get(), chain.root.get()) != 1)
    return false;
  for (const Cert& cert : extra) {
    if (!PushCert(certs.get(), cert)) return false;
  }
  return CMS_verify(cms.get(), certs.get(), store.get(), content.get(), nullptr, CMS_BINARY) == 1;
}

TEST(PkiFixture, DetachedCmsVerifiesForEveryKeyKindAndEncoding) {
  // Line ends must survive as they are: a signer that converted them would fail here.
  const std::vector<uint8_t> data = Bytes("line one\nline two\r\n\x00\xff");
  for (const KindCase& c : kKindCases) {
    const Chain chain = MakeChain(c.kind);
    for (const CmsEncoding encoding : {CmsEncoding::kDer, CmsEncoding::kBer}) {
      SCOPED_TRACE(std::string(KeyKindName(c.kind)) +
                   (encoding == CmsEncoding::kBer ? " BER" : " DER"));
      const std::vector<uint8_t> signature =
          SignDetached(data, {{chain.leaf, chain.leafKey}}, {chain.ca}, {.encoding = encoding});
      ASSERT_GT(signature.size(), 2u);
      EXPECT_EQ(signature[0], 0x30);
      // Indefinite length is the single byte 0x80; DER of this size uses 0x82 and two bytes.
      EXPECT_EQ(signature[1] == 0x80, encoding == CmsEncoding::kBer);
      EXPECT_TRUE(VerifyCms(signature, data, chain));
      std::vector<uint8_t> tampered = data;
      tampered[0] ^= 1;
      EXPECT_FALSE(VerifyCms(signature, tampered, chain));

      const unsigned char* p = signature.data();
      CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signature.size())));
      ASSERT_TRUE(cms);
      STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms.get());
      ASSERT_EQ(sk_CMS_SignerInfo_num(signerInfos), 1);
      X509_ALGOR* digest = nullptr;
      X509_ALGOR* algorithm = nullptr;
      CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(signerInfos, 0), nullptr, nullptr, &digest,
                               &algorithm);
      const ASN1_OBJECT* oid = nullptr;
      X509_ALGOR_get0(&oid, nullptr, nullptr, digest);
      EXPECT_EQ(OidOf(oid), c.cmsDigest);
      X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
      EXPECT_EQ(OidOf(oid), c.cmsSignature);
      EXPECT_EQ(CMS_is_detached(cms.get()), 1);
    }
  }
}

TEST(PkiFixture, CmsOptionsLeaveOutCertificatesAndAttributes) {
  const std::vector<uint8_t> data = Bytes("document");
  const Chain gost = MakeChain(KeyKind::kGost2001);
  const Chain ec = MakeChain(KeyKind::kEcdsaP256);
  const std::vector<uint8_t> signature =
      SignDetached(data, {{gost.leaf, gost.leafKey}, {ec.leaf, ec.leafKey}}, {},
                   {.includeSignerCerts = false, .signedAttributes = false});
  const unsigned char* p = signature.data();
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signature.size())));
  ASSERT_TRUE(cms);
  X509StackPtr certs(CMS_get1_certs(cms.get()));
  EXPECT_EQ(certs ? sk_X509_num(certs.get()) : 0, 0);
  STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms.get());
  ASSERT_EQ(sk_CMS_SignerInfo_num(signerInfos), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(CMS_signed_get_attr_count(sk_CMS_SignerInfo_value(signerInfos, i)), -1);
  }
  EXPECT_EQ(CMS_SignerInfo_cert_cmp(sk_CMS_SignerInfo_value(signerInfos, 0), gost.leaf.get()), 0);
  EXPECT_EQ(CMS_SignerInfo_cert_cmp(sk_CMS_SignerInfo_value(signerInfos, 1), ec.leaf.get()), 0);
  // Each signer verifies once its certificate is supplied (CMS_verify takes intermediates only
  // from the message or the store).
  X509StorePtr store(X509_STORE_new());
  X509StackPtr supplied(sk_X509_new_null());
  BioPtr content(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  ASSERT_TRUE(store && supplied && content);
  for (const Cert* cert : {&gost.root, &gost.ca, &ec.root, &ec.ca}) {
    ASSERT_EQ(X509_STORE_add_cert(store.get(), cert->get()), 1);
  }
  ASSERT_TRUE(PushCert(supplied.get(), gost.leaf) && PushCert(supplied.get(), ec.leaf));
  EXPECT_EQ(CMS_verify(cms.get(), supplied.get(), store.get(), content.get(), nullptr, CMS_BINARY),
            1);
}

TEST(PkiFixture, OcspResponseCarriesTheStatus) {
  const Chain chain = MakeChain(KeyKind::kGost2001);
  const int64_t now = Now();
  struct Case {
    OcspCertStatus status;
    int expected;
  };
  const Case kCases[] = {
      {OcspCertStatus::kGood, V_OCSP_CERTSTATUS_GOOD},
      {OcspCertStatus::kRevoked, V_OCSP_CERTSTATUS_REVOKED},
      {OcspCertStatus::kUnknown, V_OCSP_CERTSTATUS_UNKNOWN},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.expected);
    const std::vector<uint8_t> der = MakeOcspResponse(chain.ca, chain.caKey, chain.leaf, c.status,
                                                      now - 60, now + kDay, now - 3600);
    const unsigned char* p = der.data();
    OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(response);
    EXPECT_EQ(OCSP_response_status(response.get()), OCSP_RESPONSE_STATUS_SUCCESSFUL);
    OcspBasicResponsePtr basic(OCSP_response_get1_basic(response.get()));
    ASSERT_TRUE(basic);
    // The responder is the intermediate, whose issuer the store must know.
    X509StorePtr store(X509_STORE_new());
    X509StackPtr untrusted(sk_X509_new_null());
    ASSERT_TRUE(store && untrusted);
    ASSERT_EQ(X509_STORE_add_cert(store.get(), chain.root.get()), 1);
    EXPECT_EQ(OCSP_basic_verify(basic.get(), untrusted.get(), store.get(), 0), 1);
    OcspCertIdPtr id(OCSP_cert_to_id(EVP_sha1(), chain.leaf.get(), chain.ca.get()));
    int status = -1;
    int reason = 0;
    ASN1_GENERALIZEDTIME* revoked = nullptr;
    ASSERT_EQ(
        OCSP_resp_find_status(basic.get(), id.get(), &status, &reason, &revoked, nullptr, nullptr),
        1);
    EXPECT_EQ(status, c.expected);
    EXPECT_EQ(revoked != nullptr, c.status == OcspCertStatus::kRevoked);
  }

  const std::vector<uint8_t> error = MakeOcspError(OcspResponseStatus::kTryLater);
  const unsigned char* p = error.data();
  OcspResponsePtr response(d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(error.size())));
  ASSERT_TRUE(response);
  EXPECT_EQ(OCSP_response_status(response.get()), OCSP_RESPONSE_STATUS_TRYLATER);
}

TEST(PkiFixture, RawSignatureVerifiesWithThePublicKey) {
  const std::vector<uint8_t> data = Bytes("signed bytes");
  for (const KindCase& c : kKindCases) {
    SCOPED_TRACE(KeyKindName(c.kind));
    const Key key = CachedKey(c.kind);
    const RawSignature raw = SignRaw(key, data);
    ASSERT_FALSE(raw.signature.empty());
    if (c.rawSignatureSize != 0) {
      EXPECT_EQ(raw.signature.size(), c.rawSignatureSize);
    }
    EXPECT_EQ(raw.hash.size(), c.hashSize);
    for (const bool tamper : {false, true}) {
      std::vector<uint8_t> message = data;
      if (tamper) message.back() ^= 1;
      EvpMdCtxPtr context(EVP_MD_CTX_new());
      ASSERT_EQ(EVP_DigestVerifyInit(context.get(), nullptr, raw.digest, nullptr, key.get()), 1);
      EXPECT_EQ(EVP_DigestVerify(context.get(), raw.signature.data(), raw.signature.size(),
                                 message.data(), message.size()) == 1,
                !tamper);
    }
  }
}

// Fetch requests `url` with libcurl (a POST of `postBody` when not empty) and returns the status
// code, or the negated curl error.
long Fetch(const std::string& url, std::string* body, const std::string& postBody = "",
           long timeoutMs = 5000) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return -1;
  std::unique_ptr<CURL, FreeWith<curl_easy_cleanup>> owner(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* target) {
        static_cast<std::string*>(target)->append(data, size * count);
        return size * count;
      });
  if (!postBody.empty()) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody.size()));
  }
  const CURLcode result = curl_easy_perform(curl);
  if (result != CURLE_OK) return -static_cast<long>(result);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

TEST(HttpServer, ServesRegisteredPathsAndCountsHits) {
  HttpServer http;
  ASSERT_NE(http.Port(), 0);
  const std::string crl("\x30\x82\x00\x00\xff\x00", 6);
  http.Serve("/ca.crl", std::vector<uint8_t>(crl.begin(), crl.end()), "application/pkix-crl");
  http.Serve("ocsp", Bytes("answer"), "application/ocsp-response");
  http.ServeStatus("/gone.crl", 503);

  struct Case {
    std::string_view path;
    std::string post;
    long status;
    std::string body;
  };
  const Case kCases[] = {
      {"/ca.crl", "", 200, crl},
      {"/ca.crl", "", 200, crl},
      // An OCSP request is POSTed; its body must be read past, not taken for a new request.
      {"/ocsp", std::string(3000, 'q'), 200, "answer"},
      {"/gone.crl", "", 503, ""},
      {"/missing", "", 404, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    std::string body;
    EXPECT_EQ(Fetch(http.Url(c.path), &body, c.post), c.status);
    EXPECT_EQ(body, c.body);
  }
  EXPECT_EQ(http.Url("/ca.crl"), "http://127.0.0.1:" + std::to_string(http.Port()) + "/ca.crl");
  EXPECT_EQ(http.Hits("/ca.crl"), 2);
  EXPECT_EQ(http.Hits("/ocsp"), 1);
  EXPECT_EQ(http.Hits("/gone.crl"), 1);
  EXPECT_EQ(http.Hits("/missing"), 1);
  EXPECT_EQ(http.Hits("/never"), 0);
}

TEST(HttpServer, DelayedAnswerTimesTheClientOutAndDoesNotHoldTheDestructor) {
  auto http = std::make_unique<HttpServer>();
  http->Serve("/slow.crl", Bytes("late"), "application/pkix-crl");
  http->SetDelay("/slow.crl", std::chrono::minutes(10));
  std::string body;
  EXPECT_EQ(Fetch(http->Url("/slow.crl"), &body, "", 200), -CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(http->Hits("/slow.crl"), 1);
  // A client still connected and waiting when the server goes away must not keep it alive.
  std::thread waiting([url = http->Url("/slow.crl")] {
    std::string ignored;
    Fetch(url, &ignored, "", 600000);
  });
  while (http->Hits("/slow.crl") < 2) std::this_thread::yield();
  http.reset();
  waiting.join();
}

}  // namespace
}  // namespace tests::pki
