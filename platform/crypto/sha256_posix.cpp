#include <openssl/evp.h>

#include "platform/crypto/crypto_library.h"
#include "platform/crypto/sha256.h"

namespace platform {

Sha256Digest Sha256(std::span<const uint8_t> bytes) {
  EnsureCryptoLibrary();
  Sha256Digest digest{};
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_sha256(), nullptr);
  return digest;
}

}  // namespace platform
