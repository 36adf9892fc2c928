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

}  // namespace
}  // namespace client
