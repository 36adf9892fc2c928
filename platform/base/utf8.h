#pragma once

// UTF-8 as the program reads it, one rule for every reader: well-formed sequences only, in
// Unicode's sense (shortest forms, no surrogates, nothing above U+10FFFF). A byte that starts no
// such sequence is one bad byte; the text after it is read on from the next byte.
//
// Example:
//   size_t pos = 0;
//   while (pos < text.size()) Use(DecodeUtf8(text, pos));  // kNotUtf8 marks a bad byte

#include <cstddef>
#include <string_view>

namespace platform {

// kNotUtf8 is what DecodeUtf8 gives for a byte that starts no well-formed sequence.
inline constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// DecodeUtf8 reads the code point at `pos` of `text` and moves `pos` past it. A byte that starts
// no well-formed sequence (a continuation byte, a truncated or overlong sequence, a surrogate, a
// value above U+10FFFF) gives kNotUtf8 and moves `pos` one byte on.
constexpr char32_t DecodeUtf8(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t length = 0;
  char32_t codePoint = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    codePoint = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    codePoint = lead & 0x07;
  } else {
    ++pos;
    return kNotUtf8;
  }
  if (text.size() - pos < length) {
    ++pos;
    return kNotUtf8;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return kNotUtf8;
    }
    codePoint = (codePoint << 6) | (byte(pos + i) & 0x3F);
  }
  const char32_t shortest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (codePoint < shortest || codePoint > 0x10FFFF ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    ++pos;
    return kNotUtf8;
  }
  pos += length;
  return codePoint;
}

// IsUtf8 is true when the whole of `text` is well-formed UTF-8.
constexpr bool IsUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    if (DecodeUtf8(text, pos) == kNotUtf8) return false;
  }
  return true;
}

}  // namespace platform
