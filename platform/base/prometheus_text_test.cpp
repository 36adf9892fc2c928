#include "platform/base/prometheus_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace platform {
namespace {

TEST(PrometheusText, WritesFamiliesAndEscapesLabelValues) {
  PrometheusText text;
  text.Family("q_total", "counter", "Help with \\ and\nline.");
  text.Sample("q_total", {}, uint64_t{18446744073709551615u});
  text.Sample("q_total", {{"a", "x\"y"}, {"b", "back\\slash\nnew"}}, uint64_t{0});
  text.Sample("q_seconds", {{"le", "+Inf"}}, 0.1);
  // Expected bytes written by hand from the format's rules.
  EXPECT_EQ(text.Text(),
            "# HELP q_total Help with \\\\ and\\nline.\n"
            "# TYPE q_total counter\n"
            "q_total 18446744073709551615\n"
            "q_total{a=\"x\\\"y\",b=\"back\\\\slash\\nnew\"} 0\n"
            "q_seconds{le=\"+Inf\"} 0.1\n");
}

TEST(PrometheusText, WritesNumbersShortestAndInfinitiesByName) {
  struct Case {
    double value;
    const char* text;
  };
  const Case kCases[] = {
      {0.005, "0.005"},
      {2.5, "2.5"},
      {30, "30"},
      {1e-7, "1e-07"},
      {std::numeric_limits<double>::infinity(), "+Inf"},
      {-std::numeric_limits<double>::infinity(), "-Inf"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PrometheusNumber(c.value), c.text);
  }
}

}  // namespace
}  // namespace platform
