#include "client/blob_kind.h"

#include <gtest/gtest.h>
#include <openssl/pkcs7.h>

#include "client/blob_file.h"
#include "tests/pki/cms.h"
#include "tests/pki/trust.h"

namespace client {
namespace {

namespace pki = tests::pki;

std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string Pem(const std::string& label, const std::vector<uint8_t>& der) {
  return "-----BEGIN " + label + "-----\n" + Base64Lines(der) + "-----END " + label + "-----\n";
}

// CertificatesOnly is a PKCS #7 SignedData with `cert` and no signer, as `openssl crl2pkcs7`
// writes one.
std::vector<uint8_t> CertificatesOnly(const pki::Cert& cert) {
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, NID_pkcs7_signed);
  PKCS7_content_new(p7, NID_pkcs7_data);
  PKCS7_add_certificate(p7, cert.get());
  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(p7, &der);
  std::vector<uint8_t> bytes(der, der + length);
  OPENSSL_free(der);
  PKCS7_free(p7);
  return bytes;
}

TEST(BlobKind, NamesWhatStandsWhereASignatureBelongs) {
  const tests::Pki p = tests::MakePki(pki::KeyKind::kEcdsaP256);
  const std::vector<uint8_t> document = {'d', 'o', 'c'};
  const std::vector<uint8_t> signature = pki::SignDetached(document, {{p.leaf, p.leafKey}});
  const std::vector<uint8_t> ber =
      pki::SignDetached(document, {{p.leaf, p.leafKey}}, {}, {.encoding = pki::CmsEncoding::kBer});
  const std::vector<uint8_t> bare =
      pki::SignDetached(document, {{p.leaf, p.leafKey}}, {}, {.includeSignerCerts = false});
  unsigned char* keyDer = nullptr;
  const int keyLength = i2d_PrivateKey(p.leafKey.get(), &keyDer);  // SEC 1 for an EC key
  const std::string derKey(reinterpret_cast<char*>(keyDer), static_cast<size_t>(keyLength));
  OPENSSL_free(keyDer);
  // ContentInfo { envelopedData (1.2.840.113549.1.7.3), [0] { SEQUENCE {} } }
  const std::string enveloped(
      "\x30\x0f\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x03\xa0\x02\x30\x00", 17);
  struct Case {
    const char* name;
    std::string content;
    std::string problem;  // empty: sent as a signature
  };
  const Case kCases[] = {
      {"DER", Text(signature), ""},
      {"BER with indefinite lengths", Text(ber), ""},
      {"PEM", Pem("PKCS7", signature), ""},
      {"Base64", Base64Lines(signature), ""},
      {"no certificates", Text(bare),
       "s carries no certificates; the server takes the signer's certificate from the message, "
       "so sign with it included"},
      {"certificates only", Text(CertificatesOnly(p.leaf)),
       "s is a PKCS #7 file with certificates only and no signer"},
      {"enveloped", enveloped, "s is a CMS message of type envelopedData, not a signature"},
      {"certificate", Text(p.leaf.Der()),
       "s is a certificate, not a signature (a bare value goes with --cert)"},
      {"PEM certificate", Pem("CERTIFICATE", p.leaf.Der()),
       "s is a PEM certificate, not a signature (a bare value goes with --cert)"},
      {"PEM private key", pki::PrivateKeyPem(p.leafKey),
       "s is a PEM private key, not a signature; it was not sent (keep it private)"},
      {"DER private key", derKey,
       "s is a private key, not a signature; it was not sent (keep it private)"},
      {"empty", "", "s is empty"},
      {"text", "Договор № 5 от 1 марта\n", "s is text, not a signature"},
      {"cut short", Text(signature).substr(0, 100),
       "s is cut short (its DER encoding ends before its length says), not a signature"},
      {"other bytes", std::string("\x01\x02\xff\x00", 4),
       "s is neither DER, PEM nor Base64, not a signature"},
      {"other PEM", Pem("FOO", {1, 2, 3}), "s is PEM of type \"FOO\", not a signature"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> problem = SignatureProblem(ExamineBlob(c.content), "s");
    EXPECT_EQ(problem.value_or(""), c.problem);
    if (c.problem.empty()) {
      EXPECT_EQ(ExamineBlob(c.content).bytes, c.content == Text(ber) ? ber : signature);
    }
  }

  // With --cert: any bytes may be a bare value, and the certificate must be one.
  const std::string value(64, '\x30');  // DER-looking, as a value may well start
  EXPECT_FALSE(ValueProblem(ExamineBlob(value), "v"));
  EXPECT_FALSE(ValueProblem(ExamineBlob(Base64Lines(std::vector<uint8_t>(64, 7))), "v"));
  EXPECT_EQ(ValueProblem(ExamineBlob(Text(signature)), "v").value_or(""),
            "v is a CMS signed message, not a bare signature value; without --cert it is checked "
            "as one");
  EXPECT_FALSE(CertificateProblem(ExamineBlob(Pem("CERTIFICATE", p.leaf.Der())), "c"));
  EXPECT_EQ(CertificateProblem(ExamineBlob(pki::PrivateKeyPem(p.leafKey)), "c").value_or(""),
            "c is a PEM private key, not a certificate; it was not sent (keep it private)");
}

}  // namespace
}  // namespace client
