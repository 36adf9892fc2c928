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

TEST(LogLine, KeepsTabsAndLineBreaksOfTheMessage) {
  EXPECT_EQ(LogLine(7, "", "a\tb\r\nc"), "Quilmarend.exe:(7)\ta\tb\r\nc\r\n");
}

TEST(FormatText, FormatsLongTextsWhole) {
  const std::string big(5000, 'x');
  EXPECT_EQ(FormatText("<%s>", big.c_str()), "<" + big + ">");
  EXPECT_EQ(FormatText("IsProvContainsSignAlgorythm malloc (%08x)", 0x80090008u),
            "IsProvContainsSignAlgorythm malloc (80090008)");
}

}  // namespace
}  // namespace platform
