#include "platform/base/cp1251.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/base/hex.h"

namespace platform {
namespace {

using namespace literals;

std::string HexOf(std::string_view bytes) { return HexText(bytes, HexCase::kLower); }

TEST(Cp1251Literal, ConvertsAtCompileTime) {
  EXPECT_EQ(HexOf("Пример"_cp1251), "cff0e8ece5f0");  // worked out from the code page chart
  EXPECT_EQ(HexOf("Ёё№"_cp1251), "a8b8b9");
  EXPECT_EQ(std::string("Quilmarend %s"_cp1251), "Quilmarend %s");  // ASCII passes unchanged
}

TEST(Cp1251, Utf8ToCp1251MapsLettersAndReplacesTheRest) {
  struct Case {
    std::string_view utf8, hex;
  };
  const Case kCases[] = {
      {"ИНН", "c8cdcd"},
      {"a\xE2\x80\xBA"
       "b",
       "619b62"},                  // U+203A has a byte of its own (0x9B)
      {"\xE4\xB8\xAD", "3f"},      // a Chinese character is not in the code page
      {"\xF0\x9F\x98\x80", "3f"},  // nor is an emoji (4 bytes)
      {"\xD0", "3f"},              // truncated sequence
      {"\xC3\x28", "3f28"},        // bad continuation byte: one "?", then "("
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(HexOf(Utf8ToCp1251(c.utf8)), c.hex);
  }
}

TEST(Cp1251, Cp1251ToUtf8UsesThreeBytesAtMost) {
  EXPECT_EQ(Cp1251ToUtf8("\xC0"), "\xD0\x90");                // А
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xE2\x80\xBA");            // undefined byte -> U+203A
  EXPECT_EQ(Cp1251ToUtf8("\xB9"), "\xE2\x84\x96");            // №
  EXPECT_EQ(Cp1251ToUtf8("<a>\xFF</a>"), "<a>\xD1\x8F</a>");  // я
}

TEST(Cp1251, Utf16ToCp1251) {
  EXPECT_EQ(HexOf(Utf16ToCp1251(u"Тест")), "d2e5f1f2");
  EXPECT_EQ(Utf16ToCp1251(u"\u4E2D"), "?");
}

}  // namespace
}  // namespace platform
