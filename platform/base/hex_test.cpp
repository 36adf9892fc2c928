#include "platform/base/hex.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

TEST(HexText, OrderCaseAndSpacing) {
  const std::vector<uint8_t> key = {0x04, 0x40, 0xAB};
  EXPECT_EQ(HexText(key, HexCase::kUpper, false, true), "04 40 AB");
  EXPECT_EQ(HexText(key, HexCase::kLower, true, false), "ab4004");
  EXPECT_EQ(HexText(std::vector<uint8_t>{0xAB}, HexCase::kUpper, false, true), "AB");
  EXPECT_EQ(HexText(std::span<const uint8_t>(), HexCase::kUpper, false, true), "");
  EXPECT_EQ(HexText("\xCF\x0A", HexCase::kLower), "cf0a");  // text: its bytes
  // Kept least significant byte first, written most significant first, leading zero kept.
  EXPECT_EQ(SerialNumberText(std::vector<uint8_t>{0x5A, 0x01, 0x00}), "00015A");
}

}  // namespace
}  // namespace platform
