#include "platform/log.h"

#include <gtest/gtest.h>

#include "platform/cp1251.h"

namespace platform {
namespace {

using namespace literals;

TEST(LogLine, HasThreadStampTabMessageAndCrLf) {
  const std::string message = FormatText("(%d) Начало проверки"_cp1251, 1234);
  EXPECT_EQ(LogLine(1234, "2021-03-02 12:00:05", message),
            "Quilmarend.exe:(1234)2021-03-02 12:00:05\t(1234) "
            "\xcd\xe0\xf7\xe0\xeb\xee \xef\xf0\xee\xe2\xe5\xf0\xea\xe8\r\n");
}

TEST(LogLine, WritesControlBytesOfTheMessageVisibly) {
  struct Case {
    std::string message, written;
  };
  const Case kCases[] = {
      {"a\tb", "a\tb"},  // a tab stays
      {"file:///x\r\nQuilmarend.exe:(1) forged", "file:///x\\r\\nQuilmarend.exe:(1) forged"},
      {"bell\a esc\x1b del\x7f end", "bell\\x07 esc\\x1b del\\x7f end"},
      {std::string("nul\0!", 5), "nul\\x00!"},
      {"\xcf\xf0\xe8\xec\xe5\xf0", "\xcf\xf0\xe8\xec\xe5\xf0"},  // "Пример": high bytes stay
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(LogLine(7, "", c.message), "Quilmarend.exe:(7)\t" + c.written + "\r\n");
  }
}

TEST(FormatText, FormatsLongTextsWhole) {
  const std::string big(5000, 'x');
  EXPECT_EQ(FormatText("<%s>", big.c_str()), "<" + big + ">");
  EXPECT_EQ(FormatText("IsProvContainsSignAlgorythm malloc (%08x)", 0x80090008u),
            "IsProvContainsSignAlgorythm malloc (80090008)");
}

}  // namespace
}  // namespace platform
