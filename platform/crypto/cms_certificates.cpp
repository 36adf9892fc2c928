#include "platform/crypto/detail/cms_certificates.h"

namespace platform::detail {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kObjectId = 0x06;
constexpr uint8_t kContextZero = 0xA0;  // [0], constructed
// Indefinite lengths may nest; a message deeper than this is not one a signer writes.
constexpr int kMaxDepth = 32;

// Tlv is one element: where it starts, where its contents start and end, and where it ends (an
// indefinite length's end includes its end-of-contents octets).
struct Tlv {
  uint8_t tag = 0;
  bool indefinite = false;
  size_t start = 0, contentStart = 0, contentEnd = 0, end = 0;
};

std::optional<Tlv> ReadTlv(std::span<const uint8_t> data, size_t at, int depth = 0);

// FindEndOfContents returns the offset of the end-of-contents octets that close contents starting
// at `at`, or nullopt.
std::optional<size_t> FindEndOfContents(std::span<const uint8_t> data, size_t at, int depth) {
  while (at + 2 <= data.size()) {
    if (data[at] == 0 && data[at + 1] == 0) return at;
    const std::optional<Tlv> inner = ReadTlv(data, at, depth + 1);
    if (!inner) return std::nullopt;
    at = inner->end;
  }
  return std::nullopt;
}

std::optional<Tlv> ReadTlv(std::span<const uint8_t> data, size_t at, int depth) {
  if (depth > kMaxDepth || at + 2 > data.size()) return std::nullopt;
  Tlv tlv;
  tlv.start = at;
  tlv.tag = data[at];
  if ((tlv.tag & 0x1F) == 0x1F) return std::nullopt;  // tags of more than one byte
  const uint8_t first = data[at + 1];
  size_t position = at + 2;
  if (first == 0x80) {
    if ((tlv.tag & 0x20) == 0) return std::nullopt;  // only constructed elements may be indefinite
    tlv.indefinite = true;
    tlv.contentStart = position;
    const std::optional<size_t> close = FindEndOfContents(data, position, depth);
    if (!close) return std::nullopt;
    tlv.contentEnd = *close;
    tlv.end = *close + 2;
    return tlv;
  }
  uint64_t length = first;
  if (first & 0x80) {
    const size_t count = first & 0x7F;
    if (count > 8 || position + count > data.size()) return std::nullopt;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | data[position + i];
    position += count;
  }
  if (length > data.size() - position) return std::nullopt;
  tlv.contentStart = position;
  tlv.contentEnd = position + length;
  tlv.end = tlv.contentEnd;
  return tlv;
}

// Children returns the elements of `parent`'s contents; nullopt when they do not fill it exactly.
std::optional<std::vector<Tlv>> Children(std::span<const uint8_t> data, const Tlv& parent) {
  std::vector<Tlv> children;
  for (size_t at = parent.contentStart; at < parent.contentEnd;) {
    std::optional<Tlv> child = ReadTlv(data, at);
    if (!child || child->end > parent.contentEnd) return std::nullopt;
    at = child->end;
    children.push_back(*child);
  }
  return children;
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

void AppendRange(std::vector<uint8_t>& out, std::span<const uint8_t> data, size_t from, size_t to) {
  out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
             data.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace

std::optional<SplitMessage> SplitMessageCertificates(std::span<const uint8_t> message) {
  const std::optional<Tlv> contentInfo = ReadTlv(message, 0);
  if (!contentInfo || contentInfo->tag != kSequence) return std::nullopt;
  const std::optional<std::vector<Tlv>> outer = Children(message, *contentInfo);
  if (!outer || outer->size() != 2 || (*outer)[0].tag != kObjectId ||
      (*outer)[1].tag != kContextZero) {
    return std::nullopt;
  }
  const Tlv& explicitZero = (*outer)[1];
  const std::optional<std::vector<Tlv>> wrapped = Children(message, explicitZero);
  if (!wrapped || wrapped->size() != 1 || (*wrapped)[0].tag != kSequence) return std::nullopt;
  const Tlv& signedData = (*wrapped)[0];
  const std::optional<std::vector<Tlv>> fields = Children(message, signedData);
  // version, digestAlgorithms, encapContentInfo, [certificates], [crls], signerInfos
  if (!fields || fields->size() < 4 || fields->back().tag != kSet) return std::nullopt;
  const Tlv& certificatesField = (*fields)[3];

  SplitMessage split;
  if (certificatesField.tag != kContextZero) {
    split.withoutCertificates.assign(message.begin(), message.end());
    return split;
  }
  const std::optional<std::vector<Tlv>> certificates = Children(message, certificatesField);
  if (!certificates) return std::nullopt;
  for (const Tlv& certificate : *certificates) {
    if (certificate.tag != kSequence) return std::nullopt;  // an attribute certificate, say
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
  const Tlv& contentType = (*outer)[0];
  const size_t contentInfoContent = contentType.end - contentType.start + explicitZeroSize;

  std::vector<uint8_t>& out = split.withoutCertificates;
  out.reserve(message.size() - removed);
  AppendHeader(out, kSequence, contentInfo->indefinite, contentInfoContent);
  AppendRange(out, message, contentType.start, contentType.end);
  AppendHeader(out, kContextZero, explicitZero.indefinite, signedDataSize);
  AppendHeader(out, kSequence, signedData.indefinite, signedDataContent);
  AppendRange(out, message, signedData.contentStart, certificatesField.start);
  AppendRange(out, message, certificatesField.end, signedData.contentEnd);
  for (const Tlv* element : {&signedData, &explicitZero, &*contentInfo}) {
    if (element->indefinite) out.insert(out.end(), {0, 0});
  }
  // Whatever follows the message is left as it was, for the decoder to judge.
  AppendRange(out, message, contentInfo->end, message.size());
  return split;
}

}  // namespace platform::detail
