#include "platform/base/cp1251.h"

namespace platform {
namespace {

void AppendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

char ByteOrQuestionMark(char32_t codePoint) {
  const int converted = detail::Cp1251Byte(codePoint);
  return converted < 0 ? '?' : static_cast<char>(converted);
}

}  // namespace

std::string Utf8ToCp1251(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) out += ByteOrQuestionMark(DecodeUtf8(utf8, pos));
  return out;
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (const char c : cp1251) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else if (byte == 0x98) {
      AppendUtf8(out, 0x203A);
    } else {
      AppendUtf8(out, detail::kCp1251High[byte - 0x80]);
    }
  }
  return out;
}

std::string Utf16ToCp1251(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (const char16_t unit : utf16) out += ByteOrQuestionMark(unit);  // surrogates map to "?"
  return out;
}

}  // namespace platform
