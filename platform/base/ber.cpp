#include "platform/base/ber.h"

#include <climits>

namespace platform {
namespace {

// ReadHeader reads the header at `at` with `bound - at` bytes available, refusing what
// ASN1_get_object refuses: a header that does not leave a byte after the tag, a long-form length
// that does not leave a byte after it (even for empty contents), more than 8 length bytes after
// leading zeros, a length past LONG_MAX, an indefinite length on a primitive element, and
// contents running past `bound`.
std::optional<BerHeader> ReadHeader(std::span<const uint8_t> data, size_t at, size_t bound) {
  if (at >= bound) return std::nullopt;
  size_t left = bound - at;  // what OpenSSL calls max
  size_t p = at;
  BerHeader header;
  header.tagClass = data[p] & 0xC0;
  header.constructed = (data[p] & 0x20) != 0;
  uint64_t tag = data[p] & 0x1F;
  ++p;
  if (--left == 0) return std::nullopt;
  if (tag == 0x1F) {
    tag = 0;
    while (data[p] & 0x80) {
      tag = (tag << 7) | (data[p++] & 0x7F);
      if (--left == 0 || tag > (INT_MAX >> 7)) return std::nullopt;
    }
    tag = (tag << 7) | (data[p++] & 0x7F);
    if (--left == 0) return std::nullopt;
  }
  header.tag = static_cast<uint32_t>(tag);
  const uint8_t first = data[p++];
  --left;
  if (first == 0x80) {
    header.indefinite = true;
    if (!header.constructed) return std::nullopt;
  } else if (first & 0x80) {
    size_t count = first & 0x7F;
    if (left < count + 1) return std::nullopt;
    while (count > 0 && data[p] == 0) {
      ++p;
      --count;
    }
    if (count > sizeof(uint64_t)) return std::nullopt;
    for (; count > 0; --count) header.length = (header.length << 8) | data[p++];
    if (header.length > static_cast<uint64_t>(LONG_MAX)) return std::nullopt;
  } else {
    header.length = first;
  }
  header.contentStart = p;
  if (!header.indefinite && header.length > bound - p) return std::nullopt;
  return header;
}

bool EndOfContentsAt(std::span<const uint8_t> data, size_t at, size_t bound) {
  return bound - at >= 2 && data[at] == 0 && data[at + 1] == 0;
}

// FindEndOfContents returns where the end-of-contents octets that close contents starting at
// `at` begin, counting the indefinite lengths opened inside as OpenSSL's asn1_find_end does (no
// depth limit).
std::optional<size_t> FindEndOfContents(std::span<const uint8_t> data, size_t at, size_t bound) {
  uint64_t open = 1;
  while (at < bound) {
    if (EndOfContentsAt(data, at, bound)) {
      if (--open == 0) return at;
      at += 2;
      continue;
    }
    const std::optional<BerHeader> inner = ReadHeader(data, at, bound);
    if (!inner) return std::nullopt;
    if (inner->indefinite) {
      ++open;
      at = inner->contentStart;
    } else {
      at = inner->contentStart + inner->length;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<BerHeader> ReadBerHeader(std::span<const uint8_t> data, size_t at, size_t bound) {
  return ReadHeader(data, at, bound);
}

bool BerEndOfContentsAt(std::span<const uint8_t> data, size_t at, size_t bound) {
  return EndOfContentsAt(data, at, bound);
}

std::optional<BerElement> ReadBerElement(std::span<const uint8_t> data, size_t at, size_t bound) {
  const std::optional<BerHeader> header = ReadHeader(data, at, bound);
  if (!header) return std::nullopt;
  BerElement element;
  element.tagClass = header->tagClass;
  element.tag = header->tag;
  element.constructed = header->constructed;
  element.indefinite = header->indefinite;
  element.start = at;
  element.contentStart = header->contentStart;
  if (header->indefinite) {
    const std::optional<size_t> close = FindEndOfContents(data, header->contentStart, bound);
    if (!close) return std::nullopt;
    element.contentEnd = *close;
    element.end = *close + 2;
  } else {
    element.contentEnd = header->contentStart + header->length;
    element.end = element.contentEnd;
  }
  return element;
}

std::optional<std::vector<BerElement>> BerChildren(std::span<const uint8_t> data,
                                                   const BerElement& parent, size_t bound) {
  // Inside an indefinite length the elements are read within what holds the parent, as the
  // decoder reads them; they end at its end-of-contents octets, which were found that way.
  const size_t childBound = parent.indefinite ? bound : parent.contentEnd;
  std::vector<BerElement> children;
  for (size_t at = parent.contentStart; at < parent.contentEnd;) {
    std::optional<BerElement> child = ReadBerElement(data, at, childBound);
    if (!child || child->end > parent.contentEnd) return std::nullopt;
    at = child->end;
    children.push_back(*child);
  }
  return children;
}

std::optional<BerElement> ReadBerElement(std::span<const uint8_t> data, size_t at) {
  return ReadBerElement(data, at, data.size());
}

std::optional<std::vector<BerElement>> BerChildren(std::span<const uint8_t> data,
                                                   const BerElement& parent) {
  return BerChildren(data, parent, data.size());
}

}  // namespace platform
