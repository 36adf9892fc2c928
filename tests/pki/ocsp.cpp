#include "tests/pki/ocsp.h"

#include <openssl/evp.h>
#include <openssl/ocsp.h>

#include "tests/pki/internal.h"

namespace tests::pki {

std::vector<uint8_t> MakeOcspResponse(const Cert& issuerCert, const Key& issuerKey,
                                      const Cert& subjectCert, OcspCertStatus status,
                                      int64_t thisUpdate, std::optional<int64_t> nextUpdate,
                                      std::optional<int64_t> revocationTime) {
  if (!issuerCert || !issuerKey || !subjectCert) {
    ReportFailure("MakeOcspResponse: missing certificate or key");
    return {};
  }
  const EVP_MD* digest = DigestOf(issuerKey.Kind());
  OcspCertIdPtr id(OCSP_cert_to_id(EVP_sha1(), subjectCert.get(), issuerCert.get()));
  OcspBasicResponsePtr basic(OCSP_BASICRESP_new());
  Asn1TimePtr thisTime = Asn1TimeOf(thisUpdate);
  Asn1TimePtr nextTime = nextUpdate ? Asn1TimeOf(*nextUpdate) : nullptr;
  Asn1TimePtr revokedTime = status == OcspCertStatus::kRevoked
                                ? Asn1TimeOf(revocationTime.value_or(thisUpdate))
                                : nullptr;
  if (digest == nullptr || !id || !basic || !thisTime || (nextUpdate && !nextTime) ||
      (status == OcspCertStatus::kRevoked && !revokedTime)) {
    ReportFailure("MakeOcspResponse: response fields");
    return {};
  }
  // The single response copies the id and times; a revocation carries no reason code.
  if (OCSP_basic_add1_status(basic.get(), id.get(), static_cast<int>(status),
                             OCSP_REVOKED_STATUS_NOSTATUS, revokedTime.get(), thisTime.get(),
                             nextTime.get()) == nullptr) {
    ReportFailure("MakeOcspResponse: OCSP_basic_add1_status");
    return {};
  }
  if (OCSP_basic_sign(basic.get(), issuerCert.get(), issuerKey.get(), digest, nullptr, 0) != 1) {
    ReportFailure("MakeOcspResponse: OCSP_basic_sign");
    return {};
  }
  OcspResponsePtr response(OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic.get()));
  if (!response) {
    ReportFailure("MakeOcspResponse: OCSP_response_create");
    return {};
  }
  return EncodeDer(response.get(), i2d_OCSP_RESPONSE);
}

std::vector<uint8_t> MakeOcspError(OcspResponseStatus status) {
  OcspResponsePtr response(OCSP_response_create(static_cast<int>(status), nullptr));
  if (!response) {
    ReportFailure("MakeOcspError: OCSP_response_create");
    return {};
  }
  return EncodeDer(response.get(), i2d_OCSP_RESPONSE);
}

}  // namespace tests::pki
