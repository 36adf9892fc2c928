#include "server/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace server {
namespace {

std::vector<std::string> Drain(LineReader& reader) {
  std::vector<std::string> lines;
  while (auto line = reader.NextLine()) lines.emplace_back(*line);
  return lines;
}

TEST(LineReader, JoinsCrLfSplitAcrossReads) {
  LineReader reader;
  reader.Append("B64ON\r");
  EXPECT_TRUE(Drain(reader).empty());
  reader.Append("\nCHE");
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"B64ON\r\n"});
  reader.Append("CK\n");
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"CHECK\n"});
  EXPECT_EQ(reader.PendingBytes(), 0u);
}

TEST(LineReader, CutsEveryLineOfOneReadAndKeepsTheRest) {
  LineReader reader;
  reader.Append("a\r\n\nb\n.\r\npartial");
  EXPECT_EQ(Drain(reader), (std::vector<std::string>{"a\r\n", "\n", "b\n", ".\r\n"}));
  EXPECT_EQ(reader.PendingBytes(), 7u);
}

TEST(LineReader, KeepsBytesExactlyIncludingNulAndHighBytes) {
  LineReader reader;
  const std::string line("x\0\xff\xc0\r\r\n", 7);
  reader.Append(line);
  EXPECT_EQ(Drain(reader), std::vector<std::string>{line});
}

TEST(LineReader, LongLineArrivingInManySmallPieces) {
  LineReader reader;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string piece(37, static_cast<char>('a' + i % 26));
    expected += piece;
    std::span<char> room = reader.Space(piece.size());
    std::copy(piece.begin(), piece.end(), room.begin());
    reader.Commit(piece.size());
    ASSERT_FALSE(reader.NextLine().has_value());
  }
  EXPECT_EQ(reader.PendingBytes(), expected.size());
  reader.Append("\n");
  EXPECT_EQ(Drain(reader), std::vector<std::string>{expected + "\n"});
}

TEST(LineReader, GivesBackTheRoomOfALongLineAndKeepsTheUnfinishedOne) {
  LineReader reader;
  reader.Append(std::string(1 << 20, 'a') + "\nrest");
  EXPECT_GE(reader.AllocatedBytes(), size_t{1} << 20);
  EXPECT_EQ(Drain(reader).size(), 1u);
  reader.Shrink(128 << 10);
  EXPECT_EQ(reader.AllocatedBytes(), size_t{128} << 10);
  reader.Append("\n");
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"rest\n"});
}

}  // namespace
}  // namespace server
