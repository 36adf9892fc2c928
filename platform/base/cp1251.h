#pragma once

// Windows-1251, the code page every Russian text of this program leaves in. Two mechanisms share
// one table:
//  - the literal operator `_cp1251` converts a UTF-8 source literal at compile time; a character
//    outside the code page is a compile error. Only the texts files of each folder use it.
//  - Utf8ToCp1251 and Cp1251ToUtf8 convert at run time the texts that arrive from outside
//    (certificate names, the hashed XML fragment).
//
// Example:
//   using namespace platform::literals;
//   const char* greeting = "Запуск сервера %s"_cp1251;  // CP1251 bytes, NUL-terminated

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/utf8.h"

namespace platform {
namespace detail {

// kCp1251High[b - 0x80] is the Unicode code point of byte b; 0 marks 0x98, which the code page
// leaves undefined.
inline constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// Cp1251Byte returns the byte for `codePoint`, or -1 when the code page has none.
constexpr int Cp1251Byte(char32_t codePoint) {
  if (codePoint < 0x80) return static_cast<int>(codePoint);
  for (size_t i = 0; i < kCp1251High.size(); ++i) {
    if (kCp1251High[i] != 0 && kCp1251High[i] == codePoint) return static_cast<int>(0x80 + i);
  }
  return -1;
}

template <size_t N>
struct Cp1251Literal {
  char bytes[N] = {};
  size_t size = 0;

  consteval Cp1251Literal(const char (&utf8)[N]) {
    const std::string_view text(utf8, N - 1);
    size_t pos = 0;
    while (pos < text.size()) {
      const int converted = Cp1251Byte(platform::DecodeUtf8(text, pos));
      if (converted < 0) throw "character outside Windows-1251";  // a compile error here
      bytes[size++] = static_cast<char>(converted);
    }
  }
};

}  // namespace detail

inline namespace literals {

// "..."_cp1251 is the literal's text in Windows-1251: a NUL-terminated array of static storage.
template <detail::Cp1251Literal L>
constexpr const char* operator""_cp1251() {
  return L.bytes;
}

}  // namespace literals

// Utf8ToCp1251 converts UTF-8 text; a character outside the code page becomes "?", and so does
// each byte that starts no well-formed sequence (platform/utf8.h).
std::string Utf8ToCp1251(std::string_view utf8);

// Cp1251ToUtf8 converts Windows-1251 text to UTF-8. The undefined byte 0x98 becomes U+203A, as the
// hashed XML fragment has always been converted.
std::string Cp1251ToUtf8(std::string_view cp1251);

// Utf16ToCp1251 converts UTF-16 code units (BMP strings of certificates); unpaired or unmappable
// units become "?".
std::string Utf16ToCp1251(std::u16string_view utf16);

}  // namespace platform
