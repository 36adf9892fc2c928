#include "client/blob_file.h"

#include <gtest/gtest.h>

namespace client {
namespace {

TEST(Base64LinesSize, CountsCharactersAndLineEnds) {
  struct Case {
    uint64_t bytes, size;
  };
  const Case kCases[] = {
      {0, 0},
      {1, 6},                  // "AQ==" CR LF
      {3, 6},                  // one whole group
      {57, 78},                // one full line
      {58, 84},                // a second line of one group
      {114, 156},              // two full lines
      {104857600, 143489352},  // 100 MiB: 34952534 groups, 1839608 lines
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Base64LinesSize(c.bytes), c.size);
    // What the size promises is what the lines take, each of them ending in CR LF.
    if (c.bytes > 1000) continue;
    const std::string lines = Base64Lines(std::vector<uint8_t>(c.bytes, 0xFB));
    EXPECT_EQ(lines.size(), c.size);
    EXPECT_TRUE(c.bytes == 0 || lines.ends_with("\r\n"));
  }
}

}  // namespace
}  // namespace client
