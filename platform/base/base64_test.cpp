#include "platform/base/base64.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64, EncodesWithPadding) {
  struct Case {
    std::string_view plain, encoded;
  };
  const Case kCases[] = {
      // RFC 4648 test vectors
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.plain);
    EXPECT_EQ(Base64Encode(Bytes(c.plain)), c.encoded);
    EXPECT_EQ(Base64Decode(c.encoded), Bytes(c.plain));
  }
}

TEST(Base64, BreaksLinesAfter76CharactersWithoutATrailingBreak) {
  const std::vector<uint8_t> exactly57(57, 0xFF);  // 76 characters: one line, no break
  EXPECT_EQ(Base64Encode(exactly57), std::string(76, '/'));
  const std::vector<uint8_t> bytes58(58, 0xFF);  // 80 characters with "==" counted
  EXPECT_EQ(Base64Encode(bytes58), std::string(76, '/') + "\r\n" + "/w==");
  const std::vector<uint8_t> bytes114(114, 0);  // two full lines
  EXPECT_EQ(Base64Encode(bytes114), std::string(76, 'A') + "\r\n" + std::string(76, 'A'));
}

TEST(Base64, DecoderSkipsEverythingOutsideTheAlphabet) {
  EXPECT_EQ(Base64Decode("Zm9v\r\nYmFy"), Bytes("foobar"));
  EXPECT_EQ(Base64Decode(" Z m 9 v Y g = = "), Bytes("foob"));
  EXPECT_EQ(Base64Decode("Zg==Zg=="), Bytes("f\x06`"));  // "=" inside is skipped too
  EXPECT_EQ(Base64Decode("Z"), Bytes(""));               // a lone final character gives nothing
  EXPECT_EQ(Base64Decode("!@#$%^&*()"), Bytes(""));
  EXPECT_EQ(Base64Decode("\xd0\x90Zm8"), Bytes("fo"));
}

TEST(Base64, DecoderWritesZeroAfterOutputWithinTheBufferRule) {
  const std::string_view kInputs[] = {"", "Z", "Zg", "Zm8", "Zm9v", "Zm9vYmFyYg", "////////"};
  for (const std::string_view input : kInputs) {
    SCOPED_TRACE(input);
    std::vector<uint8_t> out;
    const size_t length = Base64Decode(input, out);
    EXPECT_EQ(out.size(), (3 * input.size() + 3) / 4 + 2);
    ASSERT_LT(length, out.size());
    EXPECT_EQ(out[length], 0);
  }
}

}  // namespace
}  // namespace platform
