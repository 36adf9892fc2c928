#include "tests/pki/cms.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>

#include "tests/pki/internal.h"

namespace tests::pki {

std::vector<uint8_t> SignDetached(std::span<const uint8_t> data,
                                  const std::vector<CmsSigner>& signers,
                                  const std::vector<Cert>& extraCerts, const CmsOptions& options) {
  // CMS_PARTIAL defers signing until every signer is in; S/MIME capabilities are left out, as
  // the signing tools that make such signatures do.
  const unsigned int flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
  CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
  if (!cms) {
    ReportFailure("SignDetached: CMS_sign");
    return {};
  }
  unsigned int signerFlags = flags;
  if (!options.includeSignerCerts) signerFlags |= CMS_NOCERTS;
  if (!options.signedAttributes) signerFlags |= CMS_NOATTR;
  for (const CmsSigner& signer : signers) {
    const EVP_MD* digest = signer.key ? DigestOf(signer.key.Kind()) : nullptr;
    // For engine keys CMS_add1_signer asks the key's method to fill in the algorithms, which is
    // where the GOST engine puts its own signature OID instead of a "digest with key" one.
    if (!signer.cert || digest == nullptr ||
        CMS_add1_signer(cms.get(), signer.cert.get(), signer.key.get(), digest, signerFlags) ==
            nullptr) {
      ReportFailure("SignDetached: CMS_add1_signer");
      return {};
    }
  }
  for (const Cert& cert : extraCerts) {
    if (!cert || CMS_add1_cert(cms.get(), cert.get()) != 1) {
      ReportFailure("SignDetached: CMS_add1_cert");
      return {};
    }
  }
  BioPtr in(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  if (!in) {
    ReportFailure("SignDetached: BIO_new_mem_buf");
    return {};
  }
  if (CMS_final(cms.get(), in.get(), nullptr, flags) != 1) {
    ReportFailure("SignDetached: CMS_final");
    return {};
  }
  if (options.encoding == CmsEncoding::kDer) return EncodeDer(cms.get(), i2d_CMS_ContentInfo);
  // The streaming writer (CMS_STREAM with i2d_CMS_bio_stream) always puts the content back in,
  // so the indefinite form comes from the encoder instead: ASN1_item_ndef_i2d writes every part
  // the CMS templates mark as streamable with indefinite length, here without eContent.
  unsigned char* ber = nullptr;
  const int length = ASN1_item_ndef_i2d(reinterpret_cast<const ASN1_VALUE*>(cms.get()), &ber,
                                        ASN1_ITEM_rptr(CMS_ContentInfo));
  if (length <= 0) {
    ReportFailure("SignDetached: ASN1_item_ndef_i2d");
    return {};
  }
  OpenSslBytesPtr owner(ber);
  return std::vector<uint8_t>(ber, ber + length);
}

}  // namespace tests::pki
