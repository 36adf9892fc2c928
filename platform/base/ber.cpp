#include "platform/base/ber.h"

namespace platform {
namespace {

// Indefinite lengths may nest; an encoding deeper than this is not one a signer writes.
constexpr int kMaxDepth = 32;

std::optional<BerElement> ReadAt(std::span<const uint8_t> data, size_t at, int depth);

// FindEndOfContents returns the offset of the end-of-contents octets that close contents starting
// at `at`, or nullopt.
std::optional<size_t> FindEndOfContents(std::span<const uint8_t> data, size_t at, int depth) {
  while (at + 2 <= data.size()) {
    if (data[at] == 0 && data[at + 1] == 0) return at;
    const std::optional<BerElement> inner = ReadAt(data, at, depth + 1);
    if (!inner) return std::nullopt;
    at = inner->end;
  }
  return std::nullopt;
}

std::optional<BerElement> ReadAt(std::span<const uint8_t> data, size_t at, int depth) {
  if (depth > kMaxDepth || at + 2 > data.size()) return std::nullopt;
  BerElement element;
  element.start = at;
  element.tag = data[at];
  if ((element.tag & 0x1F) == 0x1F) return std::nullopt;  // tags of more than one byte
  const uint8_t first = data[at + 1];
  size_t position = at + 2;
  if (first == 0x80) {
    // Only constructed elements may have an indefinite length.
    if ((element.tag & 0x20) == 0) return std::nullopt;
    element.indefinite = true;
    element.contentStart = position;
    const std::optional<size_t> close = FindEndOfContents(data, position, depth);
    if (!close) return std::nullopt;
    element.contentEnd = *close;
    element.end = *close + 2;
    return element;
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
  element.contentStart = position;
  element.contentEnd = position + length;
  element.end = element.contentEnd;
  return element;
}

}  // namespace

std::optional<BerElement> ReadBerElement(std::span<const uint8_t> data, size_t at) {
  return ReadAt(data, at, 0);
}

std::optional<std::vector<BerElement>> BerChildren(std::span<const uint8_t> data,
                                                   const BerElement& parent) {
  std::vector<BerElement> children;
  for (size_t at = parent.contentStart; at < parent.contentEnd;) {
    std::optional<BerElement> child = ReadBerElement(data, at);
    if (!child || child->end > parent.contentEnd) return std::nullopt;
    at = child->end;
    children.push_back(*child);
  }
  return children;
}

}  // namespace platform
