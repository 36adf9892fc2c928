#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <iterator>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/crypt_providers.h"
#include "platform/crypto/crypto_library.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/handles.h"

namespace platform {
namespace {

struct Algorithm {
  uint32_t algid;
  uint32_t bitLength;
  const char* name;
};

struct ProviderRow {
  const char* name;
  uint32_t type;
  std::vector<Algorithm> algorithms;
  std::vector<std::string> keyOids;  // SubjectPublicKeyInfo algorithms it imports
  bool needsGost;
};

const std::vector<ProviderRow>& Table() {
  static const std::vector<ProviderRow> table = {
      {"RSA and ECDSA Cryptographic Provider",
       PROV_RSA_FULL,
       {{CALG_SHA1, 160, "SHA-1"},
        {CALG_SHA_256, 256, "SHA-256"},
        {CALG_SHA_384, 384, "SHA-384"},
        {CALG_SHA_512, 512, "SHA-512"},
        {CALG_MD5, 128, "MD5"},
        {CALG_RSA_SIGN, 2048, "RSA_SIGN"},
        {CALG_RSA_KEYX, 2048, "RSA_KEYX"},
        {CALG_ECDSA, 256, "ECDSA"}},
       {"1.2.840.113549.1.1.1", "1.2.840.10045.2.1"},
       false},
      {kGostProviderName,
       PROV_GOST_2001_DH,
       {{CALG_GR3411, 256, "GOST R 34.11-94"},
        {CALG_GR3410EL, 512, "GOST R 34.10-2001"},
        {CALG_G28147, 256, "GOST 28147-89"}},
       {"1.2.643.2.2.19"},
       true},
  };
  return table;
}

struct OidRow {
  uint32_t algid;
  const char* oid;
};

// CryptoAPI's OID table, by algorithm; the first row of an algorithm is the one it finds.
constexpr OidRow kOids[] = {
    {CALG_MD5, "1.2.840.113549.2.5"},         {CALG_SHA1, "1.3.14.3.2.26"},
    {CALG_SHA_256, "2.16.840.1.101.3.4.2.1"}, {CALG_SHA_384, "2.16.840.1.101.3.4.2.2"},
    {CALG_SHA_512, "2.16.840.1.101.3.4.2.3"}, {CALG_RSA_KEYX, "1.2.840.113549.1.1.1"},
    {CALG_RSA_SIGN, "1.2.840.113549.1.1.1"},  {CALG_ECDSA, "1.2.840.10045.2.1"},
    {CALG_GR3411, "1.2.643.2.2.9"},           {CALG_GR3410EL, "1.2.643.2.2.19"},
    {CALG_G28147, "1.2.643.2.2.21"},
};

const EVP_MD* DigestOf(uint32_t algid) {
  switch (algid) {
    case CALG_MD5:
      return EVP_md5();
    case CALG_SHA1:
      return EVP_sha1();
    case CALG_SHA_256:
      return EVP_sha256();
    case CALG_SHA_384:
      return EVP_sha384();
    case CALG_SHA_512:
      return EVP_sha512();
    case CALG_GR3411:
      return EVP_get_digestbyname("md_gost94");
    default:
      return nullptr;
  }
}

bool Implements(const ProviderRow& row, uint32_t algid) {
  return std::any_of(row.algorithms.begin(), row.algorithms.end(),
                     [algid](const Algorithm& a) { return a.algid == algid; });
}

// EcdsaDer turns r||s (big-endian halves) into the DER Ecdsa-Sig-Value OpenSSL verifies.
std::vector<uint8_t> EcdsaDer(std::span<const uint8_t> raw) {
  if (raw.empty() || raw.size() % 2 != 0) return {};
  const size_t half = raw.size() / 2;
  ECDSA_SIG* signature = ECDSA_SIG_new();
  BIGNUM* r = BN_bin2bn(raw.data(), static_cast<int>(half), nullptr);
  BIGNUM* s = BN_bin2bn(raw.data() + half, static_cast<int>(half), nullptr);
  if (signature == nullptr || r == nullptr || s == nullptr ||
      ECDSA_SIG_set0(signature, r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(signature);
    return {};
  }
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(signature, &der);
  ECDSA_SIG_free(signature);
  if (length <= 0) return {};
  std::vector<uint8_t> bytes(der, der + length);
  OPENSSL_free(der);
  return bytes;
}

}  // namespace

struct CryptHash::Native {
  detail::EvpMdCtxPtr context;
  const EVP_MD* digest = nullptr;
  bool finished = false;
  std::vector<uint8_t> value;
};

struct CryptKey::Native {
  detail::EvpPkeyPtr key;
};

std::optional<ProviderEntry> CryptEnumProvidersA(uint32_t index) {
  if (index >= Table().size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return std::nullopt;
  }
  return ProviderEntry{Table()[index].name, Table()[index].type};
}

std::optional<OidInfo> CryptFindOIDInfo(uint32_t algid) {
  for (const OidRow& row : kOids) {
    if (row.algid == algid) return OidInfo{row.oid, algid};
  }
  return std::nullopt;
}

CryptProviderPtr CryptAcquireContextA(std::string_view name, uint32_t type, uint32_t) {
  for (size_t i = 0; i < Table().size(); ++i) {
    const ProviderRow& row = Table()[i];
    if (row.name != name || row.type != type) continue;
    if (row.needsGost && !CryptoLibrary::GostAvailable()) break;
    return CryptProviderPtr(new CryptProvider(row.name, row.type, i));
  }
  SetLastError(NTE_KEYSET_NOT_DEF);
  return nullptr;
}

CryptProvider::CryptProvider(std::string providerName, uint32_t providerType, size_t row)
    : name(std::move(providerName)), type(providerType), tableIndex(row) {}

CryptProvider::~CryptProvider() = default;

std::optional<ProvEnumAlgs> CryptProvider::EnumAlgorithms(uint32_t flags) {
  if (flags & CRYPT_FIRST) enumPosition = 0;
  const auto& algorithms = Table()[tableIndex].algorithms;
  if (enumPosition >= algorithms.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return std::nullopt;
  }
  const Algorithm& a = algorithms[enumPosition++];
  return ProvEnumAlgs{a.algid, a.bitLength, a.name};
}

CryptHashPtr CryptProvider::CreateHash(uint32_t algid) const {
  const EVP_MD* digest = Implements(Table()[tableIndex], algid) ? DigestOf(algid) : nullptr;
  auto native = std::make_unique<CryptHash::Native>();
  native->context.reset(EVP_MD_CTX_new());
  if (digest == nullptr || !native->context ||
      EVP_DigestInit_ex(native->context.get(), digest, nullptr) != 1) {
    ERR_clear_error();
    SetLastError(NTE_BAD_ALGID);
    return nullptr;
  }
  native->digest = digest;
  return CryptHashPtr(new CryptHash(std::move(native)));
}

CryptKeyPtr CryptProvider::ImportPublicKeyInfo(std::span<const uint8_t> spki) const {
  const unsigned char* p = spki.data();
  detail::X509PubkeyPtr publicKey(d2i_X509_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
  if (!publicKey) {
    ERR_clear_error();
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  ASN1_OBJECT* algorithm = nullptr;
  X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, nullptr, publicKey.get());
  const auto& oids = Table()[tableIndex].keyOids;
  const bool implemented =
      std::find(oids.begin(), oids.end(), detail::ObjectText(algorithm)) != oids.end();
  auto native = std::make_unique<CryptKey::Native>();
  if (implemented) native->key.reset(X509_PUBKEY_get(publicKey.get()));
  ERR_clear_error();
  if (!native->key) {
    SetLastError(NTE_BAD_ALGID);
    return nullptr;
  }
  return CryptKeyPtr(new CryptKey(std::move(native)));
}

CryptHash::CryptHash(std::unique_ptr<Native> openSsl) : native(std::move(openSsl)) {}
CryptHash::~CryptHash() = default;

bool CryptHash::HashData(std::span<const uint8_t> data) {
  if (native->finished || EVP_DigestUpdate(native->context.get(), data.data(), data.size()) != 1) {
    ERR_clear_error();
    SetLastError(NTE_FAIL);
    return false;
  }
  return true;
}

std::optional<std::vector<uint8_t>> CryptHash::HashValue() {
  if (!native->finished) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(native->context.get(), digest, &length) != 1) {
      ERR_clear_error();
      SetLastError(NTE_FAIL);
      return std::nullopt;
    }
    native->value.assign(digest, digest + length);
    native->finished = true;
  }
  return native->value;
}

CryptKey::CryptKey(std::unique_ptr<Native> openSsl) : native(std::move(openSsl)) {}
CryptKey::~CryptKey() = default;

bool CryptVerifySignatureA(CryptHash& hash, std::span<const uint8_t> signature,
                           const CryptKey& key) {
  const std::optional<std::vector<uint8_t>> digest = hash.HashValue();
  if (!digest) return false;
  // CryptoAPI's order is least significant byte first; OpenSSL's the opposite.
  std::vector<uint8_t> value(signature.rbegin(), signature.rend());
  EVP_PKEY* pkey = key.OpenSsl().key.get();
  const int type = EVP_PKEY_get_base_id(pkey);
  if (type == EVP_PKEY_EC) value = EcdsaDer(value);

  detail::EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(pkey, nullptr));
  bool ready = context && EVP_PKEY_verify_init(context.get()) == 1;
  if (ready && type == EVP_PKEY_RSA) {
    ready = EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
            EVP_PKEY_CTX_set_signature_md(context.get(), hash.OpenSsl().digest) == 1;
  }
  if (!ready) {
    ERR_clear_error();
    SetLastError(NTE_BAD_ALGID);
    return false;
  }
  const bool verified = !value.empty() && EVP_PKEY_verify(context.get(), value.data(), value.size(),
                                                          digest->data(), digest->size()) == 1;
  ERR_clear_error();
  if (!verified) {
    SetLastError(NTE_BAD_SIGNATURE);
    return false;
  }
  SetLastError(0);
  return true;
}

}  // namespace platform
