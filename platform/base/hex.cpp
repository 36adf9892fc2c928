#include "platform/base/hex.h"

namespace platform {

void AppendHex(std::string& out, uint8_t byte, HexCase hexCase) {
  const char* digits = hexCase == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  out += digits[byte >> 4];
  out += digits[byte & 15];
}

std::string HexText(std::span<const uint8_t> bytes, HexCase hexCase, bool reverse, bool spaced) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i > 0) text += ' ';
    AppendHex(text, reverse ? bytes[bytes.size() - 1 - i] : bytes[i], hexCase);
  }
  return text;
}

std::string HexText(std::string_view bytes, HexCase hexCase, bool reverse, bool spaced) {
  return HexText(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), hexCase,
                 reverse, spaced);
}

std::string SerialNumberText(std::span<const uint8_t> serialNumber) {
  return HexText(serialNumber, HexCase::kUpper, true);
}

}  // namespace platform
