// Feeds arbitrary bytes to the splitter of CMS messages (platform/crypto/cms_certificates.cpp)
// and checks it against OpenSSL's decoder of the whole message, the oracle it must agree with:
//  - a message split decodes whole exactly when the rest decodes and every certificate taken out
//    decodes on its own, and then the whole message carries the same certificates, in order
//    (compared as OpenSSL encodes them again), and the rest carries none;
//  - a message refused as truncated or malformed does not decode whole;
//  - a message left whole is not judged here (the decoder reads it whole).

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fuzz/require.h"
#include "platform/crypto/detail/cms_certificates.h"
#include "platform/crypto/detail/handles.h"

namespace fuzz {
namespace {

using Encodings = std::vector<std::vector<uint8_t>>;

platform::detail::CmsPtr DecodeMessage(std::span<const uint8_t> bytes) {
  const unsigned char* p = bytes.data();
  platform::detail::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(bytes.size())));
  ERR_clear_error();
  return cms;
}

std::vector<uint8_t> Encoding(X509* x509) {
  unsigned char* der = nullptr;
  const int length = i2d_X509(x509, &der);
  std::vector<uint8_t> bytes(der, der + std::max(length, 0));
  OPENSSL_free(der);
  return bytes;
}

// Certificates returns the certificates of `cms`, encoded again, in message order.
Encodings Certificates(CMS_ContentInfo* cms) {
  Encodings encodings;
  const platform::detail::X509StackPtr certs(CMS_get1_certs(cms));
  for (int i = 0; certs && i < sk_X509_num(certs.get()); ++i) {
    encodings.push_back(Encoding(sk_X509_value(certs.get(), i)));
  }
  return encodings;
}

// DecodeEach decodes each of `certificates` as a whole certificate, as a part of a message is
// decoded; nullopt when one does not decode or leaves bytes over.
std::optional<Encodings> DecodeEach(const std::vector<std::span<const uint8_t>>& certificates) {
  Encodings encodings;
  for (const std::span<const uint8_t> certificate : certificates) {
    const unsigned char* p = certificate.data();
    const platform::detail::X509Ptr x509(
        d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
    ERR_clear_error();
    if (!x509 || p != certificate.data() + certificate.size()) return std::nullopt;
    encodings.push_back(Encoding(x509.get()));
  }
  return encodings;
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::span<const uint8_t> message(bytes, size);
  const platform::detail::SplitMessage split = platform::detail::SplitMessageCertificates(message);
  const platform::detail::CmsPtr whole = fuzz::DecodeMessage(message);
  switch (split.outcome) {
    case platform::detail::SplitOutcome::kWhole:
      return 0;
    case platform::detail::SplitOutcome::kTruncated:
    case platform::detail::SplitOutcome::kMalformed:
      fuzz::Require(whole == nullptr, "a message the splitter refuses does not decode whole");
      return 0;
    case platform::detail::SplitOutcome::kSplit:
      break;
  }
  const platform::detail::CmsPtr rest = fuzz::DecodeMessage(split.withoutCertificates);
  const std::optional<fuzz::Encodings> certificates = fuzz::DecodeEach(split.certificates);
  fuzz::Require((whole != nullptr) == (rest != nullptr && certificates.has_value()),
                "a split message decodes whole exactly when its parts decode");
  if (whole == nullptr) return 0;
  fuzz::Require(fuzz::Certificates(rest.get()).empty(), "the rest carries no certificate");
  fuzz::Require(fuzz::Certificates(whole.get()) == *certificates,
                "the whole message carries the certificates taken out, in order");
  return 0;
}
