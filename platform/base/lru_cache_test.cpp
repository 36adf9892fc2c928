#include "platform/base/detail/lru_cache.h"

#include <gtest/gtest.h>

#include <charconv>
#include <sstream>
#include <string>

namespace platform::detail {
namespace {

TEST(LruCache, DropsLeastRecentlyUsedPastEitherBound) {
  // A cache of 3 entries and 100 bytes. Steps: "a10" inserts key a standing for 10 bytes (its
  // value is its size), "a" finds a. `held` lists the keys of a..d still found after the steps.
  struct Case {
    const char* steps;
    const char* held;
    size_t bytes;
  };
  const Case kCases[] = {
      {"a10 b10 c10 d10", "bcd", 30},    // a fourth entry drops the oldest
      {"a10 b10 c10 a d10", "acd", 30},  // a found entry is used again and survives
      {"a40 b40 c10 d60", "cd", 70},     // the byte budget drops as many as it takes
      {"a40 b50 c10", "abc", 100},       // exactly the byte budget fits
      {"a70 a60 b40", "ab", 100},        // a replaced entry counts its new size only
      {"a10 b10 a101", "b", 10},         // a value over the whole budget drops its key
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.steps);
    LruCache<size_t> cache(3, 100);
    std::istringstream steps(c.steps);
    for (std::string step; steps >> step;) {
      const std::string key = step.substr(0, 1);
      if (step.size() == 1) {
        EXPECT_TRUE(cache.Find(key).has_value()) << key;
      } else {
        size_t bytes = 0;
        std::from_chars(step.data() + 1, step.data() + step.size(), bytes);
        cache.Insert(key, bytes, bytes);
      }
    }
    std::string held;
    size_t valueBytes = 0;
    for (const char* key : {"a", "b", "c", "d"}) {
      if (const std::optional<size_t> value = cache.Find(key)) {
        held += key;
        valueBytes += *value;
      }
    }
    EXPECT_EQ(held, c.held);
    EXPECT_EQ(cache.Size(), held.size());
    EXPECT_EQ(cache.Bytes(), c.bytes);
    EXPECT_EQ(valueBytes, c.bytes);  // each held key kept the value inserted last
  }
}

}  // namespace
}  // namespace platform::detail
