#include "platform/crypto/detail/cms_certificates.h"

#include <algorithm>

#include "platform/base/ber.h"
#include "platform/crypto/detail/decoded_size.h"

namespace platform::detail {
namespace {

constexpr uint32_t kTagInteger = 2;
constexpr uint32_t kTagObjectId = 6;
constexpr uint32_t kTagSequence = 16;
constexpr uint32_t kTagSet = 17;
// The contents of the object identifier signedData, 1.2.840.113549.1.7.2.
constexpr uint8_t kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

// SignedData's fields as the decoder matches them, in order: by class and tag number alone (the
// sets are read whatever their form), the two optional ones skipped when their tag is not there.
struct Field {
  uint8_t tagClass;
  uint32_t tag;
  bool optional;
};
constexpr Field kSignedDataFields[] = {
    {kUniversal, kTagInteger, false},   // version
    {kUniversal, kTagSet, false},       // digestAlgorithms
    {kUniversal, kTagSequence, false},  // encapContentInfo
    {kContextSpecific, 0, true},        // certificates
    {kContextSpecific, 1, true},        // crls
    {kUniversal, kTagSet, false},       // signerInfos
};
constexpr size_t kCertificatesField = 3;

SplitMessage Refused(SplitOutcome outcome) { return SplitMessage{outcome, {}, {}}; }

// TooMany is the outcome of elements left after the last field: the decoder finds a length that
// does not add up, or, inside an indefinite length, no end-of-contents octets where they belong.
SplitOutcome TooMany(const BerElement& parent) {
  return parent.indefinite ? SplitOutcome::kTruncated : SplitOutcome::kMalformed;
}

// InnerBound is the bound of the elements inside `element`, which was read within `bound`.
size_t InnerBound(const BerElement& element, size_t bound) {
  return element.indefinite ? bound : element.contentEnd;
}

// AppendHeader writes the identifier and length octets of an element of `tag` whose contents
// take `length` bytes: indefinite when `indefinite` (its end-of-contents octets follow them),
// else the shortest definite form.
void AppendHeader(std::vector<uint8_t>& out, uint8_t tag, bool indefinite, size_t length) {
  out.push_back(tag);
  if (indefinite) {
    out.push_back(0x80);
  } else if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
  } else {
    uint8_t bytes[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8) bytes[count++] = static_cast<uint8_t>(rest);
    out.push_back(static_cast<uint8_t>(0x80 | count));
    while (count > 0) out.push_back(bytes[--count]);
  }
}

size_t HeaderSize(bool indefinite, size_t length) {
  std::vector<uint8_t> header;
  AppendHeader(header, 0, indefinite, length);
  return header.size();
}

// ElementSize is the size of an element re-encoded with the shortest header around `content`.
size_t ElementSize(const BerElement& element, size_t content) {
  return HeaderSize(element.indefinite, content) + content + (element.indefinite ? 2 : 0);
}

void AppendRange(std::vector<uint8_t>& out, std::span<const uint8_t> data, size_t from, size_t to) {
  out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
             data.begin() + static_cast<std::ptrdiff_t>(to));
}

// Without re-encodes the message without `removed`, a field of `signedData`; the headers of the
// three enclosing elements take their shortest forms (the decoder reads any form alike).
std::vector<uint8_t> Without(std::span<const uint8_t> message, const BerElement& contentInfo,
                             const BerElement& contentType, const BerElement& explicitZero,
                             const BerElement& signedData, const BerElement& removed) {
  const size_t signedDataContent =
      signedData.contentEnd - signedData.contentStart - (removed.end - removed.start);
  const size_t signedDataSize = ElementSize(signedData, signedDataContent);
  const size_t explicitZeroSize = ElementSize(explicitZero, signedDataSize);
  std::vector<uint8_t> out;
  out.reserve(message.size() - (removed.end - removed.start));
  AppendHeader(out, 0x30, contentInfo.indefinite,
               contentType.end - contentType.start + explicitZeroSize);
  AppendRange(out, message, contentType.start, contentType.end);
  AppendHeader(out, 0xA0, explicitZero.indefinite, signedDataSize);
  AppendHeader(out, 0x30, signedData.indefinite, signedDataContent);
  AppendRange(out, message, signedData.contentStart, removed.start);
  AppendRange(out, message, removed.end, signedData.contentEnd);
  for (const BerElement* element : {&signedData, &explicitZero, &contentInfo}) {
    if (element->indefinite) out.insert(out.end(), {0, 0});
  }
  AppendRange(out, message, contentInfo.end, message.size());
  return out;
}

}  // namespace

SplitMessage SplitMessageCertificates(std::span<const uint8_t> message) {
  using enum SplitOutcome;
  const size_t bound = message.size();
  const std::optional<BerElement> contentInfo = ReadBerElement(message, 0, bound);
  if (!contentInfo) return Refused(kTruncated);
  if (!contentInfo->Is(kUniversal, kTagSequence) || !contentInfo->constructed) {
    return Refused(kMalformed);
  }
  const std::optional<std::vector<BerElement>> outer = BerChildren(message, *contentInfo, bound);
  if (!outer) return Refused(kTruncated);
  if (outer->empty()) return Refused(kMalformed);
  // Another content type, or an object identifier that is not one, is the decoder's to judge.
  const BerElement& contentType = (*outer)[0];
  const std::span<const uint8_t> oid =
      message.subspan(contentType.contentStart, contentType.contentEnd - contentType.contentStart);
  if (!contentType.Is(kUniversal, kTagObjectId) || contentType.constructed ||
      !std::ranges::equal(oid, kSignedDataOid)) {
    return Refused(kWhole);
  }
  if (outer->size() < 2) return Refused(kMalformed);
  const BerElement& explicitZero = (*outer)[1];
  if (!explicitZero.Is(kContextSpecific, 0) || !explicitZero.constructed) {
    return Refused(kMalformed);
  }
  if (outer->size() > 2) return Refused(TooMany(*contentInfo));

  const size_t contentInfoInner = InnerBound(*contentInfo, bound);
  const std::optional<std::vector<BerElement>> wrapped =
      BerChildren(message, explicitZero, contentInfoInner);
  if (!wrapped) return Refused(kTruncated);
  if (wrapped->empty()) return Refused(kMalformed);
  if (wrapped->size() > 1) return Refused(TooMany(explicitZero));
  const BerElement& signedData = (*wrapped)[0];
  if (!signedData.Is(kUniversal, kTagSequence) || !signedData.constructed) {
    return Refused(kMalformed);
  }
  const size_t explicitZeroInner = InnerBound(explicitZero, contentInfoInner);
  const std::optional<std::vector<BerElement>> fields =
      BerChildren(message, signedData, explicitZeroInner);
  if (!fields) return Refused(kTruncated);
  size_t next = 0;
  const BerElement* certificatesField = nullptr;
  for (size_t index = 0; index < std::size(kSignedDataFields); ++index) {
    const Field& field = kSignedDataFields[index];
    if (next < fields->size() && (*fields)[next].Is(field.tagClass, field.tag)) {
      if (index == kCertificatesField) certificatesField = &(*fields)[next];
      ++next;
    } else if (!field.optional) {
      return Refused(kMalformed);  // a field missing, or one in its place with another tag
    }
  }
  if (next < fields->size()) return Refused(TooMany(signedData));

  SplitMessage split;
  split.outcome = kSplit;
  if (certificatesField == nullptr) {
    split.withoutCertificates.assign(message.begin(), message.end());
    return split;
  }
  // The set is read as a set whatever its form; each element is a certificate, or one of the
  // other choices the decoder knows.
  const std::optional<std::vector<BerElement>> certificates =
      BerChildren(message, *certificatesField, InnerBound(signedData, explicitZeroInner));
  if (!certificates) return Refused(kTruncated);
  for (const BerElement& certificate : *certificates) {
    if (certificate.tagClass == kContextSpecific && certificate.tag <= 3) return Refused(kWhole);
    if (!certificate.Is(kUniversal, kTagSequence) || !certificate.constructed) {
      return Refused(kMalformed);
    }
    split.certificates.push_back(
        message.subspan(certificate.start, certificate.end - certificate.start));
  }
  split.withoutCertificates =
      Without(message, *contentInfo, contentType, explicitZero, signedData, *certificatesField);
  return split;
}

}  // namespace platform::detail
