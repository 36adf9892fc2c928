#include "tests/pki/crl.h"

#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "tests/pki/internal.h"

namespace tests::pki {
namespace {

bool AddRevoked(X509_CRL* crl, const RevokedCert& entry) {
  X509RevokedPtr revoked(X509_REVOKED_new());
  Asn1IntegerPtr serial = Asn1IntegerOf(entry.serial);
  Asn1TimePtr when = Asn1TimeOf(entry.revocationTime);
  if (!revoked || !serial || !when ||
      X509_REVOKED_set_serialNumber(revoked.get(), serial.get()) != 1 ||
      X509_REVOKED_set_revocationDate(revoked.get(), when.get()) != 1)
    return ReportFailure("MakeCrl: revoked entry");
  if (entry.reason) {
    Asn1EnumeratedPtr reason(ASN1_ENUMERATED_new());
    if (!reason || ASN1_ENUMERATED_set(reason.get(), *entry.reason) != 1 ||
        X509_REVOKED_add1_ext_i2d(revoked.get(), NID_crl_reason, reason.get(), 0, 0) != 1)
      return ReportFailure("MakeCrl: CRLReason");
  }
  if (X509_CRL_add0_revoked(crl, revoked.get()) != 1) return ReportFailure("MakeCrl: add entry");
  revoked.release();  // the CRL owns it now
  return true;
}

bool AddCrlExtensions(X509_CRL* crl, const Cert& issuerCert, uint64_t crlNumber) {
  AuthorityKeyIdPtr aki = AuthorityKeyIdOf(CertKeyIdentifier(issuerCert.get()));
  if (!aki || X509_CRL_add1_ext_i2d(crl, NID_authority_key_identifier, aki.get(), 0, 0) != 1)
    return ReportFailure("MakeCrl: authority key identifier");
  Asn1IntegerPtr number(ASN1_INTEGER_new());
  if (!number || ASN1_INTEGER_set_uint64(number.get(), crlNumber) != 1 ||
      X509_CRL_add1_ext_i2d(crl, NID_crl_number, number.get(), 0, 0) != 1)
    return ReportFailure("MakeCrl: cRLNumber");
  return true;
}

}  // namespace

std::vector<uint8_t> MakeCrl(const Cert& issuerCert, const Key& issuerKey,
                             const std::vector<RevokedCert>& revoked, int64_t thisUpdate,
                             std::optional<int64_t> nextUpdate, uint64_t crlNumber) {
  const EVP_MD* digest = DigestOf(issuerKey.Kind());
  X509CrlPtr crl(X509_CRL_new());
  Asn1TimePtr lastUpdate = Asn1TimeOf(thisUpdate);
  if (!issuerCert || !issuerKey || digest == nullptr || !crl || !lastUpdate ||
      X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2) != 1 ||
      X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuerCert.get())) != 1 ||
      X509_CRL_set1_lastUpdate(crl.get(), lastUpdate.get()) != 1) {
    ReportFailure("MakeCrl: CRL fields");
    return {};
  }
  if (nextUpdate) {
    Asn1TimePtr next = Asn1TimeOf(*nextUpdate);
    if (!next || X509_CRL_set1_nextUpdate(crl.get(), next.get()) != 1) {
      ReportFailure("MakeCrl: nextUpdate");
      return {};
    }
  }
  for (const RevokedCert& entry : revoked) {
    if (!AddRevoked(crl.get(), entry)) return {};
  }
  if (X509_CRL_sort(crl.get()) != 1 || !AddCrlExtensions(crl.get(), issuerCert, crlNumber)) {
    ReportFailure("MakeCrl: entries");
    return {};
  }
  if (X509_CRL_sign(crl.get(), issuerKey.get(), digest) <= 0) {
    ReportFailure("MakeCrl: X509_CRL_sign");
    return {};
  }
  return EncodeDer(crl.get(), i2d_X509_CRL);
}

}  // namespace tests::pki
