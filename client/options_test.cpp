#include "client/options.h"

#include <gtest/gtest.h>

namespace client {
namespace {

TEST(ServerAddress, ReadsNamesAndBracketedIpv6) {
  struct Case {
    std::string text, host;
    int port;
    std::string shown;  // how messages name it
  };
  const Case kCases[] = {
      {"checks.example", "checks.example", 3847, "checks.example:3847"},
      {"10.0.0.7:4000", "10.0.0.7", 4000, "10.0.0.7:4000"},
      {"[::1]", "::1", 3847, "[::1]:3847"},
      {"[::1]:3848", "::1", 3848, "[::1]:3848"},
      {"[2001:db8::a]:65535", "2001:db8::a", 65535, "[2001:db8::a]:65535"},
      {"[fe80::1%eth0]:1", "fe80::1%eth0", 1, "[fe80::1%eth0]:1"},  // a link-local zone
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const std::optional<ServerAddress> address = ParseServerAddress(c.text);
    ASSERT_TRUE(address);
    EXPECT_EQ(address->host, c.host);
    EXPECT_EQ(address->port, c.port);
    EXPECT_EQ(address->Text(), c.shown);
  }
  const char* const kRefused[] = {
      "",                // no host
      ":3847",           // no host
      "host:",           // no port after the colon
      "host:0",          // port out of range
      "host:65536",      // port out of range
      "host:38x",        // port not a number
      "::1",             // IPv6 without brackets: where would the port be?
      "2001:db8::a:80",  // the same
      "[::1",            // unclosed bracket
      "[]:3847",         // empty brackets
      "[::1]3847",       // no colon before the port
      "[::1]:",          // no port after the colon
      "[example.org]",   // brackets hold an IPv6 address only
      "[10.0.0.7]:80",   // the same
  };
  for (const char* text : kRefused) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseServerAddress(text));
  }
}

std::variant<Options, UsageError> Parse(std::vector<const char*> words) {
  words.insert(words.begin(), "quilmarend-check");
  return ParseOptions(static_cast<int>(words.size()), words.data(), nullptr);
}

TEST(ParseOptions, RefusesWhatCannotRunAndSuggestsTheNearestOption) {
  struct Case {
    std::vector<const char*> words;
    std::string reason;
    bool json;
  };
  const Case kCases[] = {
      {{"--jsno", "a", "b"}, "unknown option --jsno (did you mean --json?)", false},
      {{"--nocrl", "a", "b"}, "unknown option --nocrl (did you mean --no-crl?)", false},
      {{"--timout=5", "a", "b"}, "unknown option --timout=5 (did you mean --timeout?)", false},
      {{"-x", "a", "b"}, "unknown option -x", false},  // too short to guess from
      {{"--json", "--frobnicate"}, "unknown option --frobnicate", true},
      {{}, "DOCUMENT and SIGNATURE are missing", false},
      {{"--json", "a"}, "SIGNATURE is missing after DOCUMENT", true},
      {{"a", "b", "c"},
       "only DOCUMENT and SIGNATURE are taken; names with blanks need quotes",
       false},
      {{"--batch", "pairs", "a", "b"},
       "--batch takes its pairs from FILE, not DOCUMENT SIGNATURE",
       false},
      {{"--batch", "pairs", "--html", "r.html"}, "--batch cannot go with --html", false},
      {{"-0", "a", "b"}, "-0 goes with --batch", false},
      {{"--json", "--gethash", "file:///a"}, "--json goes with checks, not with --gethash", true},
      {{"--timeout", "0", "a", "b"},
       "--timeout must be a number of seconds from 1 to 86400",
       false},
      {{"--time", "2021-13-01", "a", "b"},
       "--time must be YYYY-MM-DD or 'YYYY-MM-DD HH:MM:SS', from 1970 to 3000",
       false},
      {{"--time", "2021-03-02 24:00:00", "a", "b"},
       "--time must be YYYY-MM-DD or 'YYYY-MM-DD HH:MM:SS', from 1970 to 3000",
       false},
      {{"--", "--json", "a", "b"},
       "only DOCUMENT and SIGNATURE are taken; names with blanks need quotes",
       false},  // after "--" every word is a name
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reason);
    const auto parsed = Parse(c.words);
    const auto* usage = std::get_if<UsageError>(&parsed);
    ASSERT_NE(usage, nullptr);
    EXPECT_EQ(usage->reason, c.reason);
    EXPECT_EQ(usage->json, c.json);
  }
}

TEST(ParseOptions, ReadsShortFormsBatchAndTimeout) {
  const auto help = Parse({"-h"});
  ASSERT_TRUE(std::holds_alternative<Options>(help));
  EXPECT_TRUE(std::get<Options>(help).help);
  const auto batch = Parse({"--batch", "-", "-0", "--json", "--timeout=5"});
  ASSERT_TRUE(std::holds_alternative<Options>(batch)) << std::get<UsageError>(batch).reason;
  const Options& options = std::get<Options>(batch);
  EXPECT_EQ(options.batch, "-");
  EXPECT_TRUE(options.nulSeparated && options.json);
  EXPECT_EQ(options.timeout, std::chrono::seconds(5));
}

}  // namespace
}  // namespace client
