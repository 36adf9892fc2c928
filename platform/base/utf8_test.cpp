#include "platform/base/utf8.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Utf8, AcceptsWellFormedSequencesOnly) {
  struct Case {
    std::string_view text;
    bool utf8;
    char32_t first;  // what DecodeUtf8 reads at the start
    size_t read;     // the bytes it moves on
  };
  const Case kCases[] = {
      {"A", true, U'A', 1},
      {"\xD0\x90", true, 0x0410, 2},                 // А
      {"\xE2\x84\x96", true, 0x2116, 3},             // №
      {"\xF0\x9F\x98\x80", true, 0x1F600, 4},        // an emoji, four bytes
      {"\xF4\x8F\xBF\xBF", true, 0x10FFFF, 4},       // the last code point
      {"\xEF\xBF\xBD", true, 0xFFFD, 3},             // the replacement character itself
      {"\x80", false, kNotUtf8, 1},                  // a continuation byte alone
      {"\xD0", false, kNotUtf8, 1},                  // truncated
      {"\xC3\x28", false, kNotUtf8, 1},              // bad continuation byte
      {"\xC1\x81", false, kNotUtf8, 1},              // "A" in two bytes: overlong
      {"\xE0\x80\x80", false, kNotUtf8, 1},          // NUL in three bytes: overlong
      {"\xF0\x8F\xBF\xBF", false, kNotUtf8, 1},      // U+FFFF in four bytes: overlong
      {"\xED\xA0\x80", false, kNotUtf8, 1},          // a surrogate (U+D800)
      {"\xF4\x90\x80\x80", false, kNotUtf8, 1},      // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", false, kNotUtf8, 1},  // a five-byte form
      {"ok\xFF", false, U'o', 1},                    // a bad byte after good ones
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(IsUtf8(c.text), c.utf8);
    size_t pos = 0;
    EXPECT_EQ(DecodeUtf8(c.text, pos), c.first);
    EXPECT_EQ(pos, c.read);
  }
}

}  // namespace
}  // namespace platform
