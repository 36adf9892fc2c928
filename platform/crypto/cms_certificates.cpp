#include "platform/crypto/detail/cms_certificates.h"

#include "platform/base/ber.h"

namespace platform::detail {
namespace {

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

void AppendRange(std::vector<uint8_t>& out, std::span<const uint8_t> data, size_t from, size_t to) {
  out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
             data.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace

std::optional<SplitMessage> SplitMessageCertificates(std::span<const uint8_t> message) {
  const std::optional<BerElement> contentInfo = ReadBerElement(message, 0);
  if (!contentInfo || contentInfo->tag != kBerSequence) return std::nullopt;
  const std::optional<std::vector<BerElement>> outer = BerChildren(message, *contentInfo);
  if (!outer || outer->size() != 2 || (*outer)[0].tag != kBerObjectId ||
      (*outer)[1].tag != kBerContextZero) {
    return std::nullopt;
  }
  const BerElement& explicitZero = (*outer)[1];
  const std::optional<std::vector<BerElement>> wrapped = BerChildren(message, explicitZero);
  if (!wrapped || wrapped->size() != 1 || (*wrapped)[0].tag != kBerSequence) return std::nullopt;
  const BerElement& signedData = (*wrapped)[0];
  const std::optional<std::vector<BerElement>> fields = BerChildren(message, signedData);
  // version, digestAlgorithms, encapContentInfo, [certificates], [crls], signerInfos
  if (!fields || fields->size() < 4 || fields->back().tag != kBerSet) return std::nullopt;
  const BerElement& certificatesField = (*fields)[3];

  SplitMessage split;
  if (certificatesField.tag != kBerContextZero) {
    split.withoutCertificates.assign(message.begin(), message.end());
    return split;
  }
  const std::optional<std::vector<BerElement>> certificates =
      BerChildren(message, certificatesField);
  if (!certificates) return std::nullopt;
  for (const BerElement& certificate : *certificates) {
    if (certificate.tag != kBerSequence) return std::nullopt;  // an attribute certificate, say
    split.certificates.push_back(
        message.subspan(certificate.start, certificate.end - certificate.start));
  }

  // The enclosing elements from the inside out, each a little shorter.
  const size_t removed = certificatesField.end - certificatesField.start;
  const size_t signedDataContent = signedData.contentEnd - signedData.contentStart - removed;
  const size_t signedDataSize = HeaderSize(signedData.indefinite, signedDataContent) +
                                signedDataContent + (signedData.indefinite ? 2 : 0);
  const size_t explicitZeroSize = HeaderSize(explicitZero.indefinite, signedDataSize) +
                                  signedDataSize + (explicitZero.indefinite ? 2 : 0);
  const BerElement& contentType = (*outer)[0];
  const size_t contentInfoContent = contentType.end - contentType.start + explicitZeroSize;

  std::vector<uint8_t>& out = split.withoutCertificates;
  out.reserve(message.size() - removed);
  AppendHeader(out, kBerSequence, contentInfo->indefinite, contentInfoContent);
  AppendRange(out, message, contentType.start, contentType.end);
  AppendHeader(out, kBerContextZero, explicitZero.indefinite, signedDataSize);
  AppendHeader(out, kBerSequence, signedData.indefinite, signedDataContent);
  AppendRange(out, message, signedData.contentStart, certificatesField.start);
  AppendRange(out, message, certificatesField.end, signedData.contentEnd);
  for (const BerElement* element : {&signedData, &explicitZero, &*contentInfo}) {
    if (element->indefinite) out.insert(out.end(), {0, 0});
  }
  // Whatever follows the message is left as it was, for the decoder to judge.
  AppendRange(out, message, contentInfo->end, message.size());
  return split;
}

}  // namespace platform::detail
