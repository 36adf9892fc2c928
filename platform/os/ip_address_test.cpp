#include "platform/os/ip_address.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(IpNetwork, ReadsAddressesAndPrefixesAndContainsTheirAddresses) {
  struct Case {
    std::string_view text;
    std::string network;  // as written back; "" when refused
    std::string_view inside = "", outside = "";
  };
  const Case kCases[] = {
      {"127.0.0.1", "127.0.0.1/32", "127.0.0.1", "127.0.0.2"},
      {"10.1.2.3/8", "10.0.0.0/8", "::ffff:10.9.9.9", "11.0.0.1"},  // a dual-stack socket's peer
      {"2001:db8:1:2:3:4:5:6/64", "2001:db8:1:2::/64", "2001:db8:1:2::9", "2001:db8:1:3::1"},
      {"::ffff:10.0.0.0/104", "10.0.0.0/8", "10.0.0.1", "::a00:1"},  // mapped: the IPv4 network
      {"::ffff:10.0.0.0/95", ""},  // wider than the mapped addresses
      {std::string_view("10.0.0.1\0junk", 13), ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const std::optional<IpNetwork> network = ParseIpNetwork(c.text);
    EXPECT_EQ(network ? IpNetworkText(*network) : "", c.network);
    if (!network) continue;
    EXPECT_TRUE(Contains(std::span(&*network, 1), *ParseIpAddress(c.inside)));
    EXPECT_FALSE(Contains(std::span(&*network, 1), *ParseIpAddress(c.outside)));
  }
  EXPECT_EQ(ParseIpNetworkList(" 127.0.0.1, 10.0.0.0/8 ")->size(), 2u);
  EXPECT_FALSE(ParseIpNetworkList("127.0.0.1,"));
}

}  // namespace
}  // namespace platform
