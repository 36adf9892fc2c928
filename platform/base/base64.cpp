#include "platform/base/base64.h"

#include <array>

namespace platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineLength = 76;

// kValues[c] is the 6-bit value of alphabet character c, or -1 for any other byte.
constexpr std::array<int8_t, 256> kValues = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 64; ++i)
    values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return values;
}();

}  // namespace

std::string Base64Encode(std::span<const uint8_t> bytes) {
  const size_t characters = (bytes.size() + 2) / 3 * 4;
  std::string out;
  out.reserve(characters + characters / kLineLength * 2);
  size_t column = 0;
  const auto put = [&](char c) {
    if (column == kLineLength) {
      out += "\r\n";
      column = 0;
    }
    out += c;
    ++column;
  };
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    put(kAlphabet[(group >> 18) & 63]);
    put(kAlphabet[(group >> 12) & 63]);
    put(kAlphabet[(group >> 6) & 63]);
    put(kAlphabet[group & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    const uint32_t group = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
    put(kAlphabet[(group >> 18) & 63]);
    put(kAlphabet[(group >> 12) & 63]);
    put(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
    put('=');
  }
  return out;
}

size_t Base64Decode(std::string_view text, std::vector<uint8_t>& out) {
  out.assign(Base64DecodeBufferSize(text.size()), 0);
  size_t length = 0;
  uint32_t group = 0;
  int count = 0;
  for (const char c : text) {
    const int8_t value = kValues[static_cast<unsigned char>(c)];
    if (value < 0) continue;
    group = (group << 6) | static_cast<uint32_t>(value);
    if (++count == 4) {
      out[length++] = static_cast<uint8_t>(group >> 16);
      out[length++] = static_cast<uint8_t>(group >> 8);
      out[length++] = static_cast<uint8_t>(group);
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out[length++] = static_cast<uint8_t>(group >> 4);
  } else if (count == 3) {
    out[length++] = static_cast<uint8_t>(group >> 10);
    out[length++] = static_cast<uint8_t>(group >> 2);
  }
  out[length] = 0;
  return length;
}

std::vector<uint8_t> Base64Decode(std::string_view text) {
  std::vector<uint8_t> out;
  out.resize(Base64Decode(text, out));
  return out;
}

}  // namespace platform
