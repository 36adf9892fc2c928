#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/asn1_blob.h"
#include "platform/crypto/cert_extensions.h"
#include "platform/crypto/detail/cert_native.h"
#include "platform/crypto/detail/handles.h"

namespace platform {

std::optional<std::vector<std::string>> DecodeEnhancedKeyUsage(std::span<const uint8_t> value) {
  if (const uint32_t status = Asn1BlobStatus(value); status != 0) {
    SetLastError(status);
    return std::nullopt;
  }
  const unsigned char* p = value.data();
  ERR_clear_error();
  detail::ExtKeyUsagePtr usages(
      d2i_EXTENDED_KEY_USAGE(nullptr, &p, static_cast<long>(value.size())));
  if (!usages) {
    SetLastError(detail::DecodeFailureStatus());
    return std::nullopt;
  }
  std::vector<std::string> oids;
  for (int i = 0; i < sk_ASN1_OBJECT_num(usages.get()); ++i) {
    oids.push_back(detail::ObjectText(sk_ASN1_OBJECT_value(usages.get(), i)));
  }
  return oids;
}

}  // namespace platform
