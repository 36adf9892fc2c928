#include "platform/detail/lru_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform::detail {
namespace {

// Step is one call: Insert(key, bytes, bytes) when `bytes` is set, else Find(key).
struct Step {
  std::string key;
  std::optional<size_t> bytes;
};

TEST(LruCache, DropsLeastRecentlyUsedPastEitherBound) {
  struct Case {
    const char* why;
    std::vector<Step> steps;
    std::vector<std::string> held;  // of a, b, c, d, in that order
    size_t bytes;
  };
  const Case kCases[] = {
      {"a fourth entry drops the oldest",
       {{"a", 10}, {"b", 10}, {"c", 10}, {"d", 10}},
       {"b", "c", "d"},
       30},
      {"a found entry is used again and survives",
       {{"a", 10}, {"b", 10}, {"c", 10}, {"a", {}}, {"d", 10}},
       {"a", "c", "d"},
       30},
      {"the byte budget drops as many as it takes",
       {{"a", 40}, {"b", 40}, {"c", 10}, {"d", 60}},
       {"c", "d"},
       70},
      {"exactly the byte budget fits", {{"a", 40}, {"b", 50}, {"c", 10}}, {"a", "b", "c"}, 100},
      {"a replaced entry counts its new size only",
       {{"a", 70}, {"a", 60}, {"b", 40}},
       {"a", "b"},
       100},
      {"a value over the whole budget is not kept and drops its key",
       {{"a", 10}, {"b", 10}, {"a", 101}},
       {"b"},
       10},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    LruCache<size_t> cache(3, 100);
    for (const Step& step : c.steps) {
      if (step.bytes) {
        cache.Insert(step.key, *step.bytes, *step.bytes);
      } else {
        EXPECT_TRUE(cache.Find(step.key).has_value()) << step.key;
      }
    }
    EXPECT_EQ(cache.Size(), c.held.size());
    EXPECT_EQ(cache.Bytes(), c.bytes);
    std::vector<std::string> held;
    size_t valueBytes = 0;
    for (const char* key : {"a", "b", "c", "d"}) {
      if (const std::optional<size_t> value = cache.Find(key)) {
        held.push_back(key);
        valueBytes += *value;
      }
    }
    EXPECT_EQ(held, c.held);
    EXPECT_EQ(valueBytes, c.bytes);  // each held key kept the value inserted last
  }
}

}  // namespace
}  // namespace platform::detail
