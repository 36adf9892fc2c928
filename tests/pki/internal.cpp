#include "tests/pki/internal.h"

#include <openssl/err.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace tests::pki {

bool ReportFailure(std::string_view what) {
  std::string text = "pki: " + std::string(what);
  while (const unsigned long code = ERR_get_error()) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    text += "; ";
    text += reason;
  }
  std::fprintf(stderr, "%s\n", text.c_str());
  return false;
}

Asn1TimePtr Asn1TimeOf(int64_t unixSeconds) {
  return Asn1TimePtr(ASN1_TIME_adj(nullptr, static_cast<time_t>(unixSeconds), 0, 0));
}

Asn1IntegerPtr Asn1IntegerOf(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return nullptr;
  Asn1IntegerPtr integer(ASN1_INTEGER_new());
  // The encoder writes the stored octets as they are and adds the 0x00 a top bit needs, so
  // a 0x00 the caller put in front survives into the DER.
  if (!integer || ASN1_STRING_set(integer.get(), bytes.data(), static_cast<int>(bytes.size())) != 1)
    return nullptr;
  return integer;
}

std::vector<uint8_t> KeyIdentifier(EVP_PKEY* key) {
  X509_PUBKEY* raw = nullptr;
  if (X509_PUBKEY_set(&raw, key) != 1) return {};
  X509PubkeyPtr publicKey(raw);
  const unsigned char* bits = nullptr;
  int length = 0;
  if (X509_PUBKEY_get0_param(nullptr, &bits, &length, nullptr, publicKey.get()) != 1) return {};
  std::vector<uint8_t> id(EVP_MAX_MD_SIZE);
  unsigned int idLength = 0;
  if (EVP_Digest(bits, static_cast<size_t>(length), id.data(), &idLength, EVP_sha1(), nullptr) != 1)
    return {};
  id.resize(idLength);
  return id;
}

std::vector<uint8_t> CertKeyIdentifier(X509* cert) {
  if (const ASN1_OCTET_STRING* id = X509_get0_subject_key_id(cert)) {
    const unsigned char* data = ASN1_STRING_get0_data(id);
    return std::vector<uint8_t>(data, data + ASN1_STRING_length(id));
  }
  return KeyIdentifier(X509_get0_pubkey(cert));
}

AuthorityKeyIdPtr AuthorityKeyIdOf(std::span<const uint8_t> keyId) {
  if (keyId.empty()) return nullptr;
  AuthorityKeyIdPtr aki(AUTHORITY_KEYID_new());
  if (!aki) return nullptr;
  aki->keyid = ASN1_OCTET_STRING_new();
  if (aki->keyid == nullptr ||
      ASN1_OCTET_STRING_set(aki->keyid, keyId.data(), static_cast<int>(keyId.size())) != 1)
    return nullptr;
  return aki;
}

}  // namespace tests::pki
