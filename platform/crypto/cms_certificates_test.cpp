#include "platform/crypto/detail/cms_certificates.h"

#include <gtest/gtest.h>
#include <openssl/cms.h>

#include <algorithm>

#include "platform/crypto/detail/handles.h"
#include "tests/pki/cms.h"
#include "tests/pki/trust.h"

namespace platform::detail {
namespace {

using tests::pki::CmsEncoding;

TEST(SplitMessageCertificates, TakesTheCertificatesOutOfEitherEncoding) {
  const tests::Pki p = tests::MakePki(tests::pki::KeyKind::kEcdsaP256);
  const std::vector<uint8_t> document = {'d', 'o', 'c'};
  const auto sign = [&](CmsEncoding encoding, bool certificates) {
    return tests::pki::SignDetached(
        document, {{p.leaf, p.leafKey}},
        certificates ? std::vector{p.ca} : std::vector<tests::pki::Cert>{},
        {.includeSignerCerts = certificates, .encoding = encoding});
  };
  struct Case {
    const char* why;
    std::vector<uint8_t> message;
    std::vector<std::vector<uint8_t>> certificates;
  };
  const Case kCases[] = {
      {"DER", sign(CmsEncoding::kDer, true), {p.leaf.Der(), p.ca.Der()}},
      {"indefinite-length BER", sign(CmsEncoding::kBer, true), {p.leaf.Der(), p.ca.Der()}},
      {"no certificates", sign(CmsEncoding::kDer, false), {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const std::optional<SplitMessage> split = SplitMessageCertificates(c.message);
    ASSERT_TRUE(split);
    // A DER SET OF keeps its elements sorted, not in the order they were added.
    std::vector<std::string> found, expected;
    for (std::span<const uint8_t> certificate : split->certificates) {
      found.emplace_back(certificate.begin(), certificate.end());
    }
    for (const std::vector<uint8_t>& certificate : c.certificates) {
      expected.emplace_back(certificate.begin(), certificate.end());
    }
    std::ranges::sort(found);
    std::ranges::sort(expected);
    EXPECT_EQ(found, expected);
    // What is left decodes, with its signer and without a certificate.
    const unsigned char* at = split->withoutCertificates.data();
    const CmsPtr cms(
        d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(split->withoutCertificates.size())));
    ASSERT_TRUE(cms);
    EXPECT_EQ(at, split->withoutCertificates.data() + split->withoutCertificates.size());
    EXPECT_EQ(sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())), 1);
    const X509StackPtr certs(CMS_get1_certs(cms.get()));
    EXPECT_TRUE(certs == nullptr || sk_X509_num(certs.get()) == 0);
  }
}

TEST(SplitMessageCertificates, LeavesWhatItCannotReadToTheDecoder) {
  const tests::Pki p = tests::MakePki(tests::pki::KeyKind::kEcdsaP256);
  const std::vector<uint8_t> whole =
      tests::pki::SignDetached(std::vector<uint8_t>{'d'}, {{p.leaf, p.leafKey}});
  const auto cut = [&](size_t length) {
    return std::vector<uint8_t>(whole.begin(), whole.begin() + length);
  };
  const std::vector<std::vector<uint8_t>> kRefused = {
      {},
      cut(1),
      cut(whole.size() / 2),
      cut(whole.size() - 1),
      {0x30, 0x03, 0x02, 0x01, 0x00},
      {0x1F, 0x81, 0x00},
      {0x30, 0x80, 0x06, 0x00},
  };
  for (const std::vector<uint8_t>& message : kRefused) {
    SCOPED_TRACE(message.size());
    EXPECT_FALSE(SplitMessageCertificates(message));
  }
  // Bytes after the message stay after it.
  std::vector<uint8_t> trailed = whole;
  trailed.push_back(0x42);
  const std::optional<SplitMessage> split = SplitMessageCertificates(trailed);
  ASSERT_TRUE(split);
  EXPECT_EQ(split->withoutCertificates.back(), 0x42);
}

}  // namespace
}  // namespace platform::detail
