#include "tests/pki/raw_signature.h"

#include <openssl/evp.h>

#include "tests/pki/internal.h"

namespace tests::pki {

RawSignature SignRaw(const Key& key, std::span<const uint8_t> data) {
  RawSignature result;
  result.digest = key ? DigestOf(key.Kind()) : nullptr;
  EvpMdCtxPtr context(EVP_MD_CTX_new());
  if (result.digest == nullptr || !context ||
      EVP_DigestSignInit(context.get(), nullptr, result.digest, nullptr, key.get()) != 1) {
    ReportFailure("SignRaw: EVP_DigestSignInit");
    return result;
  }
  size_t length = 0;
  if (EVP_DigestSign(context.get(), nullptr, &length, data.data(), data.size()) != 1) {
    ReportFailure("SignRaw: EVP_DigestSign (length)");
    return result;
  }
  std::vector<uint8_t> signature(length);
  if (EVP_DigestSign(context.get(), signature.data(), &length, data.data(), data.size()) != 1) {
    ReportFailure("SignRaw: EVP_DigestSign");
    return result;
  }
  signature.resize(length);
  std::vector<uint8_t> hash(EVP_MAX_MD_SIZE);
  unsigned int hashLength = 0;
  if (EVP_Digest(data.data(), data.size(), hash.data(), &hashLength, result.digest, nullptr) != 1) {
    ReportFailure("SignRaw: EVP_Digest");
    return result;
  }
  hash.resize(hashLength);
  result.signature = std::move(signature);
  result.hash = std::move(hash);
  return result;
}

}  // namespace tests::pki
