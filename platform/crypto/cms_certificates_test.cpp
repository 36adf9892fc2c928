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
using Bytes = std::vector<uint8_t>;

// Der is an element of the one-byte identifier `tag` around `content`, the shortest length.
Bytes Der(uint8_t tag, const Bytes& content) {
  Bytes out;
  out.reserve(content.size() + 4);
  out.push_back(tag);
  if (content.size() < 0x80) {
    out.push_back(static_cast<uint8_t>(content.size()));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(content.size() >> 8));
    out.push_back(static_cast<uint8_t>(content.size()));
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Cat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

const Bytes kSignedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

// SignedDataFields returns the fields of the SignedData of the DER `message`, read with OpenSSL.
std::vector<Bytes> SignedDataFields(const Bytes& message) {
  const unsigned char* p = message.data();
  const unsigned char* const end = message.data() + message.size();
  long length = 0;
  int tag = 0, tagClass = 0;
  ASN1_get_object(&p, &length, &tag, &tagClass, end - p);  // ContentInfo
  ASN1_get_object(&p, &length, &tag, &tagClass, end - p);  // contentType
  p += length;
  ASN1_get_object(&p, &length, &tag, &tagClass, end - p);  // [0]
  ASN1_get_object(&p, &length, &tag, &tagClass, end - p);  // SignedData
  std::vector<Bytes> fields;
  while (p < end) {
    const unsigned char* start = p;
    ASN1_get_object(&p, &length, &tag, &tagClass, end - p);
    p += length;
    fields.emplace_back(start, p);
  }
  return fields;
}

Bytes MessageAround(const Bytes& signedData) {
  return Der(0x30, Cat({kSignedDataOid, Der(0xA0, signedData)}));
}

Bytes MessageOf(const std::vector<Bytes>& fields, uint8_t signedDataTag = 0x30) {
  return MessageAround(Der(signedDataTag, Cat(fields)));
}

std::vector<std::string> Sorted(std::vector<std::string> texts) {
  std::ranges::sort(texts);
  return texts;
}

TEST(SplitMessageCertificates, TakesTheCertificatesOutOfEitherEncoding) {
  const tests::Pki p = tests::MakePki(tests::pki::KeyKind::kEcdsaP256);
  const Bytes document = {'d', 'o', 'c'};
  const auto sign = [&](CmsEncoding encoding, bool certificates) {
    return tests::pki::SignDetached(
        document, {{p.leaf, p.leafKey}},
        certificates ? std::vector{p.ca} : std::vector<tests::pki::Cert>{},
        {.includeSignerCerts = certificates, .encoding = encoding});
  };
  struct Case {
    const char* why;
    Bytes message;
    std::vector<Bytes> certificates;
  };
  const Case kCases[] = {
      {"DER", sign(CmsEncoding::kDer, true), {p.leaf.Der(), p.ca.Der()}},
      {"indefinite-length BER", sign(CmsEncoding::kBer, true), {p.leaf.Der(), p.ca.Der()}},
      {"no certificates", sign(CmsEncoding::kDer, false), {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const SplitMessage split = SplitMessageCertificates(c.message);
    ASSERT_EQ(split.outcome, SplitOutcome::kSplit);
    // A DER SET OF keeps its elements sorted, not in the order they were added.
    std::vector<std::string> found, expected;
    for (std::span<const uint8_t> certificate : split.certificates) {
      found.emplace_back(certificate.begin(), certificate.end());
    }
    for (const Bytes& certificate : c.certificates) {
      expected.emplace_back(certificate.begin(), certificate.end());
    }
    EXPECT_EQ(Sorted(found), Sorted(expected));
    // What is left decodes, with its signer and without a certificate.
    const unsigned char* at = split.withoutCertificates.data();
    const CmsPtr cms(
        d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(split.withoutCertificates.size())));
    ASSERT_TRUE(cms);
    EXPECT_EQ(at, split.withoutCertificates.data() + split.withoutCertificates.size());
    EXPECT_EQ(sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())), 1);
    const X509StackPtr certs(CMS_get1_certs(cms.get()));
    EXPECT_TRUE(certs == nullptr || sk_X509_num(certs.get()) == 0);
  }
}

// Each message is split, left to the decoder or refused exactly as OpenSSL decodes it whole.
TEST(SplitMessageCertificates, AcceptsExactlyWhatTheDecoderAccepts) {
  const tests::Pki p = tests::MakePki(tests::pki::KeyKind::kEcdsaP256);
  const Bytes whole = tests::pki::SignDetached(Bytes{'d'}, {{p.leaf, p.leafKey}});
  const Bytes ber = tests::pki::SignDetached(Bytes{'d'}, {{p.leaf, p.leafKey}}, {},
                                             {.encoding = CmsEncoding::kBer});
  const std::vector<Bytes> f = SignedDataFields(whole);  // version, digests, content, [0], signers
  ASSERT_EQ(f.size(), 5u);
  const Bytes leafSet = Cat({p.leaf.Der()});
  const auto cut = [](const Bytes& bytes, size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
  };
  // The same message whose ContentInfo length is written in 4 bytes, two of them leading zeros.
  Bytes zeroPadded = {0x30,
                      0x84,
                      0,
                      0,
                      static_cast<uint8_t>((whole.size() - 4) >> 8),
                      static_cast<uint8_t>(whole.size() - 4)};
  zeroPadded.insert(zeroPadded.end(), whole.begin() + 4, whole.end());
  // SignedData's SEQUENCE tag written in the form for tag numbers of several bytes.
  Bytes longTag = Der(0x30, Cat(f));
  longTag[0] = 0x3F;
  longTag.insert(longTag.begin() + 1, 0x10);
  using enum SplitOutcome;
  struct Case {
    const char* why;
    Bytes message;
    SplitOutcome outcome;
  };
  const Case kCases[] = {
      {"as signed", whole, kSplit},
      {"certificates as a primitive [0]", MessageOf({f[0], f[1], f[2], Der(0x80, leafSet), f[4]}),
       kSplit},
      {"a length with leading zero bytes", zeroPadded, kSplit},
      {"SignedData's tag in the long form", MessageAround(longTag), kSplit},
      {"an attribute certificate",
       MessageOf({f[0], f[1], f[2], Der(0xA0, Der(0xA1, {0x05, 0x00})), f[4]}), kWhole},
      {"data, not signed data",
       Der(0x30, Cat({{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01},
                      Der(0xA0, Der(0x04, {'d'}))})),
       kWhole},
      {"two certificate sets", MessageOf({f[0], f[1], f[2], f[3], Der(0xA0, {}), f[4]}),
       kMalformed},
      {"two certificate sets, the second another certificate",
       MessageOf({f[0], f[1], f[2], f[3], Der(0xA0, p.ca.Der()), f[4]}), kMalformed},
      {"nine fields",
       MessageOf({f[0], f[1], f[2], f[3], Der(0xA1, {}), Der(0x31, {}), Der(0x31, {}),
                  Der(0x30, {}), f[4]}),
       kMalformed},
      {"crls before certificates", MessageOf({f[0], f[1], f[2], Der(0xA1, {}), f[3], f[4]}),
       kMalformed},
      {"no signers", MessageOf({f[0], f[1], f[2], f[3]}), kMalformed},
      {"a primitive SignedData", MessageOf(f, 0x10), kMalformed},
      {"a certificate that is no SEQUENCE",
       MessageOf({f[0], f[1], f[2], Der(0xA0, Der(0x04, {})), f[4]}), kMalformed},
      {"empty", {}, kTruncated},
      {"one byte", cut(whole, 1), kTruncated},
      {"cut in half", cut(whole, whole.size() / 2), kTruncated},
      {"one byte short", cut(whole, whole.size() - 1), kTruncated},
      {"indefinite lengths without their end", cut(ber, ber.size() - 2), kTruncated},
      {"a length of 2^32", Cat({{0x30, 0x85, 0x01, 0, 0, 0, 0}, cut(whole, 20)}), kTruncated},
      {"a length of 2^63", Cat({{0x30, 0x88, 0x80, 0, 0, 0, 0, 0, 0, 0}, cut(whole, 20)}),
       kTruncated},
      {"an indefinite primitive", {0x30, 0x80, 0x06, 0x80, 0x00, 0x00, 0x00, 0x00}, kTruncated},
      {"no content type", {0x30, 0x03, 0x02, 0x01, 0x00}, kWhole},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const SplitMessage split = SplitMessageCertificates(c.message);
    EXPECT_EQ(split.outcome, c.outcome);
    const unsigned char* at = c.message.data();
    const CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(c.message.size())));
    if (c.outcome != kWhole) {
      EXPECT_EQ(cms != nullptr, c.outcome == kSplit);
    }
    if (c.outcome != kSplit) continue;
    const X509StackPtr certs(CMS_get1_certs(cms.get()));
    ASSERT_EQ(split.certificates.size(), certs ? static_cast<size_t>(sk_X509_num(certs.get())) : 0);
  }
  // Bytes after the message stay after it.
  Bytes trailed = whole;
  trailed.push_back(0x42);
  const SplitMessage split = SplitMessageCertificates(trailed);
  ASSERT_EQ(split.outcome, kSplit);
  EXPECT_EQ(split.withoutCertificates.back(), 0x42);
}

}  // namespace
}  // namespace platform::detail
