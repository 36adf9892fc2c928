#include "report/detail_blocks.h"

namespace report {

std::string HexText(std::span<const uint8_t> bytes, bool reverse, bool spaced) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t byte = reverse ? bytes[bytes.size() - 1 - i] : bytes[i];
    if (spaced && i > 0) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string SerialNumberText(std::span<const uint8_t> serialNumber) {
  return HexText(serialNumber, true, false);
}

}  // namespace report
