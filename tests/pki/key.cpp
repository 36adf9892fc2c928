#include "tests/pki/key.h"

#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "tests/pki/gost_engine.h"
#include "tests/pki/internal.h"

namespace tests::pki {
namespace {

Key MakeGostKey(KeyKind kind, int nid) {
  if (!LoadGostEngine()) return {};
  // The engine's key method is found through the default tables by the algorithm's NID.
  EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_id(nid, nullptr));
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1) {
    ReportFailure("EVP_PKEY_keygen_init(" + std::string(KeyKindName(kind)) + ")");
    return {};
  }
  if (EVP_PKEY_CTX_ctrl_str(context.get(), "paramset", "A") <= 0) {
    ReportFailure("paramset A");
    return {};
  }
  EVP_PKEY* generated = nullptr;
  if (EVP_PKEY_keygen(context.get(), &generated) != 1) {
    ReportFailure("EVP_PKEY_keygen(" + std::string(KeyKindName(kind)) + ")");
    return {};
  }
  return Key(kind, EvpPkeyPtr(generated));
}

}  // namespace

Key::Key(const Key& other) : kind(other.kind) {
  if (other.pkey && EVP_PKEY_up_ref(other.pkey.get()) == 1) pkey.reset(other.pkey.get());
}

Key& Key::operator=(const Key& other) {
  if (this != &other) *this = Key(other);
  return *this;
}

Key MakeKey(KeyKind kind) {
  switch (kind) {
    case KeyKind::kGost2001:
      return MakeGostKey(kind, NID_id_GostR3410_2001);
    case KeyKind::kGost2012_256:
      return MakeGostKey(kind, NID_id_GostR3410_2012_256);
    case KeyKind::kGost2012_512:
      return MakeGostKey(kind, NID_id_GostR3410_2012_512);
    case KeyKind::kRsa2048: {
      EvpPkeyPtr pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}));
      if (!pkey) ReportFailure("RSA key generation");
      return pkey ? Key(kind, std::move(pkey)) : Key();
    }
    case KeyKind::kEcdsaP256: {
      EvpPkeyPtr pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
      if (!pkey) ReportFailure("P-256 key generation");
      return pkey ? Key(kind, std::move(pkey)) : Key();
    }
  }
  return {};
}

Key CachedKey(KeyKind kind, int slot) {
  // OpenSSL registers its exit-time clean-up (which unloads the engine) on first use, before the
  // cache below exists, so the cache's GOST keys are freed while the engine is still there.
  LoadGostEngine();
  static std::mutex mutex;
  static std::map<std::pair<KeyKind, int>, Key> cache;
  std::lock_guard lock(mutex);
  Key& key = cache[{kind, slot}];
  if (!key) key = MakeKey(kind);
  return key;
}

const EVP_MD* DigestOf(KeyKind kind) {
  int nid = NID_sha256;
  switch (kind) {
    case KeyKind::kGost2001:
      nid = NID_id_GostR3411_94;
      break;
    case KeyKind::kGost2012_256:
      nid = NID_id_GostR3411_2012_256;
      break;
    case KeyKind::kGost2012_512:
      nid = NID_id_GostR3411_2012_512;
      break;
    case KeyKind::kRsa2048:
    case KeyKind::kEcdsaP256:
      return EVP_sha256();
  }
  if (!LoadGostEngine()) return nullptr;
  // The engine adds its digests to the legacy name table; the GOST provider is not loaded.
  const EVP_MD* digest = EVP_get_digestbynid(nid);
  if (digest == nullptr) ReportFailure("no digest " + std::string(OBJ_nid2sn(nid)));
  return digest;
}

std::string_view KeyKindName(KeyKind kind) {
  switch (kind) {
    case KeyKind::kGost2001:
      return "gost2001";
    case KeyKind::kGost2012_256:
      return "gost2012_256";
    case KeyKind::kGost2012_512:
      return "gost2012_512";
    case KeyKind::kRsa2048:
      return "rsa2048";
    case KeyKind::kEcdsaP256:
      return "ecdsa_p256";
  }
  return "?";
}

std::string PrivateKeyPem(const Key& key) {
  const BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return {};
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

}  // namespace tests::pki
