#include "platform/crypt_msg.h"

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/pkcs7.h>

#include <string>
#include <vector>

#include "platform/detail/handles.h"
#include "platform/last_error.h"
#include "tests/pki/cert.h"
#include "tests/pki/cms.h"
#include "tests/pki/key.h"

namespace platform {
namespace {

using tests::pki::KeyKind;

using Pkcs7Ptr = std::unique_ptr<PKCS7, detail::FreeWith<PKCS7_free>>;

const std::vector<uint8_t> kData = {'d', 'a', 't', 'a'};

template <typename T, int (*Encode)(const T*, unsigned char**)>
std::vector<uint8_t> DerOf(const T* object) {
  unsigned char* der = nullptr;
  const int length = object != nullptr ? Encode(object, &der) : 0;
  detail::OpenSslBytesPtr owner(der);
  return length > 0 ? std::vector<uint8_t>(der, der + length) : std::vector<uint8_t>();
}

std::vector<uint8_t> CmsDer(CMS_ContentInfo* cms) {
  detail::CmsPtr owner(cms);
  return DerOf<CMS_ContentInfo, i2d_CMS_ContentInfo>(cms);
}

detail::BioPtr DataBio() {
  return detail::BioPtr(BIO_new_mem_buf(kData.data(), static_cast<int>(kData.size())));
}

// CertificatesOnly is a signed-data PKCS #7 with `cert` and no signer, as crl2pkcs7 writes it.
std::vector<uint8_t> CertificatesOnly(const tests::pki::Cert& cert) {
  Pkcs7Ptr p7(PKCS7_new());
  if (!p7 || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1 ||
      PKCS7_content_new(p7.get(), NID_pkcs7_data) != 1 ||
      PKCS7_add_certificate(p7.get(), cert.get()) != 1) {
    return {};
  }
  PKCS7_set_detached(p7.get(), 1);
  return DerOf<PKCS7, i2d_PKCS7>(p7.get());
}

TEST(CryptVerifyDetachedMessageSignature, StatusOfMessagesWithoutThatSigner) {
  const tests::pki::Key key = tests::pki::CachedKey(KeyKind::kEcdsaP256, 0);
  tests::pki::CertSpec certSpec;
  certSpec.subject = {{"CN", "Signer"}};
  const tests::pki::Cert cert = tests::pki::Issue(certSpec, key, nullptr, key);
  ASSERT_TRUE(cert);
  detail::X509StackPtr recipients(sk_X509_new_null());
  ASSERT_EQ(sk_X509_push(recipients.get(), cert.get()), 1);
  X509_up_ref(cert.get());  // the stack owns a reference now

  struct Case {
    const char* why;
    std::vector<uint8_t> blob;
    uint32_t signerIndex;
    uint32_t status;  // Windows values
    int signers;
  };
  const Case kCases[] = {
      {"signed, signer 0", tests::pki::SignDetached(kData, {{cert, key}}), 0, 0, 1},
      {"signed, no signer 1", tests::pki::SignDetached(kData, {{cert, key}}), 1, 0x8009200E, 1},
      {"certificates only", CertificatesOnly(cert), 0, 0x8009200E, 0},
      {"data", CmsDer(CMS_data_create(DataBio().get(), CMS_BINARY)), 0, 0x8009200A, -1},
      {"digested data", CmsDer(CMS_digest_create(DataBio().get(), EVP_sha256(), CMS_BINARY)), 0,
       0x8009200A, -1},
      {"enveloped data",
       CmsDer(CMS_encrypt(recipients.get(), DataBio().get(), EVP_aes_128_cbc(), CMS_BINARY)), 0,
       0x8009200A, -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    ASSERT_FALSE(c.blob.empty());
    EXPECT_EQ(CryptVerifyDetachedMessageSignature(c.blob, kData, c.signerIndex, nullptr),
              c.status == 0);
    EXPECT_EQ(GetLastError(), c.status);
    EXPECT_EQ(CryptGetMessageSignerCount(c.blob), c.signers);
    if (c.signers < 0) {
      EXPECT_EQ(GetLastError(), c.status);
    }
  }
}

}  // namespace
}  // namespace platform
