#include "platform/os/ip_address.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(ParseIpNetwork, ReadsAddressesAndPrefixesClearingTheRest) {
  struct Case {
    std::string_view text;
    std::string network;  // as written back; "" when refused
  };
  const Case kCases[] = {
      {"127.0.0.1", "127.0.0.1/32"},
      {"10.1.2.3/8", "10.0.0.0/8"},
      {"0.0.0.0/0", "0.0.0.0/0"},
      {"2001:db8:1:2:3:4:5:6/64", "2001:db8:1:2::/64"},
      {"::1", "::1/128"},
      {"::ffff:192.0.2.7", "192.0.2.7/32"},   // mapped: the IPv4 address
      {"::ffff:10.0.0.0/104", "10.0.0.0/8"},  // a mapped network: the IPv4 network
      {"192.0.2.1/33", ""},
      {"::ffff:10.0.0.0/95", ""},  // wider than the mapped addresses
      {"10.0.0.0/", ""},
      {"10.0.0.0/+8", ""},
      {"010.0.0.1", ""},  // no octal guesses
      {"localhost", ""},
      {"[::1]", ""},
      {"fe80::1%eth0", ""},
      {"10.0.0.1 ", ""},
      {std::string_view("10.0.0.1\0junk", 13), ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const std::optional<IpNetwork> network = ParseIpNetwork(c.text);
    EXPECT_EQ(network ? IpNetworkText(*network) : "", c.network);
  }
}

TEST(IpNetworkList, ContainsItsAddressesAndOnlyThem) {
  const std::optional<std::vector<IpNetwork>> list =
      ParseIpNetworkList(" 127.0.0.1, 10.0.0.0/8 ,2001:db8::/32");
  ASSERT_TRUE(list);
  struct Case {
    std::string_view address;
    bool contained;
  };
  const Case kCases[] = {
      {"127.0.0.1", true},        {"127.0.0.2", false},      {"10.255.0.1", true},
      {"11.0.0.1", false},        {"::ffff:10.0.0.9", true},  // an IPv4 peer of a dual-stack socket
      {"2001:db8:ffff::1", true}, {"2001:db9::1", false},    {"::a00:1", false},  // not 10.0.0.1
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(Contains(*list, *ParseIpAddress(c.address)), c.contained);
  }
  for (std::string_view bad : {"", "127.0.0.1,", "127.0.0.1,,10.0.0.1", "127.0.0.1;10.0.0.1"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseIpNetworkList(bad));
  }
}

}  // namespace
}  // namespace platform
