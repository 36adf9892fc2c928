#pragma once

// Cryptographic providers, the stand-in for CryptoAPI's CSP functions, over OpenSSL and the GOST
// engine. The machine has a fixed table of providers, enumerated in this order:
//   0  "RSA and ECDSA Cryptographic Provider"                         type 1 (PROV_RSA_FULL)
//   1  "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider"  type 75 (PROV_GOST_2001_DH)
// Each lists its algorithms (ALG_ID), which CryptFindOIDInfo maps to OIDs. Only public operations
// exist: hashing, public-key import and signature verification. Signatures are taken in
// CryptoAPI's order, least significant byte first; CryptVerifySignatureA reverses them into
// OpenSSL's order itself, so a value in big-endian order fails.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr uint32_t PROV_RSA_FULL = 1;
inline constexpr uint32_t PROV_GOST_2001_DH = 75;
inline constexpr uint32_t CRYPT_VERIFYCONTEXT = 0xF0000000;
inline constexpr uint32_t PP_ENUMALGS = 1;
inline constexpr uint32_t CRYPT_FIRST = 1;
inline constexpr uint32_t CRYPT_NEXT = 2;
inline constexpr uint32_t HP_HASHVAL = 2;
inline constexpr uint32_t CRYPT_OID_INFO_ALGID_KEY = 3;

inline constexpr uint32_t CALG_MD5 = 0x8003;
inline constexpr uint32_t CALG_SHA1 = 0x8004;
inline constexpr uint32_t CALG_SHA_256 = 0x800C;
inline constexpr uint32_t CALG_SHA_384 = 0x800D;
inline constexpr uint32_t CALG_SHA_512 = 0x800E;
inline constexpr uint32_t CALG_RSA_SIGN = 0x2400;
inline constexpr uint32_t CALG_RSA_KEYX = 0xA400;
inline constexpr uint32_t CALG_ECDSA = 0x2203;
inline constexpr uint32_t CALG_GR3411 = 0x801E;
inline constexpr uint32_t CALG_GR3410EL = 0x2E23;
inline constexpr uint32_t CALG_G28147 = 0x661E;

inline constexpr char kGostProviderName[] =
    "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";

struct ProviderEntry {
  std::string name;
  uint32_t type = 0;
};

// CryptEnumProvidersA returns provider `index` of the table; nullopt with the last error
// ERROR_NO_MORE_ITEMS past its end.
std::optional<ProviderEntry> CryptEnumProvidersA(uint32_t index);

struct ProvEnumAlgs {
  uint32_t aiAlgid = 0;
  uint32_t bitLength = 0;
  std::string name;
};

struct OidInfo {
  std::string oid;
  uint32_t algid = 0;
};

// CryptFindOIDInfo (CRYPT_OID_INFO_ALGID_KEY, any group) returns the OID of algorithm `algid`,
// or nullopt when it has none.
std::optional<OidInfo> CryptFindOIDInfo(uint32_t algid);

class CryptProvider;
class CryptHash;
class CryptKey;
using CryptProviderPtr = std::unique_ptr<CryptProvider>;  // released by CryptReleaseContext
using CryptHashPtr = std::unique_ptr<CryptHash>;          // destroyed by CryptDestroyHash
using CryptKeyPtr = std::unique_ptr<CryptKey>;            // destroyed by CryptDestroyKey

// CryptAcquireContextA acquires the provider `name` of `type` for public operations
// (CRYPT_VERIFYCONTEXT). Null with the last error NTE_KEYSET_NOT_DEF when the table has no such
// provider or the machine cannot run it (the GOST provider without the GOST engine).
CryptProviderPtr CryptAcquireContextA(std::string_view name, uint32_t type, uint32_t flags);

class CryptProvider {
 public:
  virtual ~CryptProvider();

  // CryptGetProvParam (PP_ENUMALGS) returns the first (CRYPT_FIRST) or next (CRYPT_NEXT)
  // algorithm of the provider; nullopt with ERROR_NO_MORE_ITEMS after the last.
  std::optional<ProvEnumAlgs> EnumAlgorithms(uint32_t flags);

  // CryptCreateHash returns a hash object of `algid`; null with NTE_BAD_ALGID when the provider
  // does not implement it.
  CryptHashPtr CreateHash(uint32_t algid) const;

  // CryptImportPublicKeyInfo imports the DER SubjectPublicKeyInfo `spki`; null with
  // NTE_BAD_ALGID when the provider does not implement its algorithm, CRYPT_E_ASN1_BADTAG when
  // it does not decode.
  CryptKeyPtr ImportPublicKeyInfo(std::span<const uint8_t> spki) const;

  const std::string& Name() const { return name; }
  uint32_t Type() const { return type; }

 private:
  friend CryptProviderPtr CryptAcquireContextA(std::string_view, uint32_t, uint32_t);
  CryptProvider(std::string providerName, uint32_t providerType, size_t row);
  std::string name;
  uint32_t type;
  size_t tableIndex;
  size_t enumPosition = 0;
};

class CryptHash {
 public:
  ~CryptHash();
  // CryptHashData adds `data`; false with NTE_FAIL when the digest fails.
  bool HashData(std::span<const uint8_t> data);
  // CryptGetHashParam (HP_HASHVAL) returns the digest, in the order CryptoAPI returns it (for
  // GOST R 34.11-94 the engine's order). The object can take no more data afterwards.
  std::optional<std::vector<uint8_t>> HashValue();

  // OpenSsl is the OpenSSL side, for platform/*.cpp only.
  struct Native;
  Native& OpenSsl() { return *native; }

 private:
  friend class CryptProvider;
  explicit CryptHash(std::unique_ptr<Native> openSsl);
  std::unique_ptr<Native> native;
};

class CryptKey {
 public:
  ~CryptKey();
  // OpenSsl is the OpenSSL side, for platform/*.cpp only.
  struct Native;
  const Native& OpenSsl() const { return *native; }

 private:
  friend class CryptProvider;
  explicit CryptKey(std::unique_ptr<Native> openSsl);
  std::unique_ptr<Native> native;
};

// CryptVerifySignatureA checks `signature` (CryptoAPI's order: least significant byte first)
// over the data hashed into `hash` with `key`. False with NTE_BAD_SIGNATURE when it does not
// verify, NTE_BAD_ALGID when the key and the hash do not go together.
bool CryptVerifySignatureA(CryptHash& hash, std::span<const uint8_t> signature,
                           const CryptKey& key);

}  // namespace platform
