#include "server/client_address.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include "platform/base/unique_fd.h"
#include "platform/os/socket.h"

namespace server {
namespace {

TEST(AddressGroup, CountsLoopbackAsOneAndIpv6ByItsSlash64) {
  const std::pair<std::string_view, std::string_view> kCases[] = {
      {"::ffff:127.0.0.9", "127.0.0.0/8"},  // an IPv4 client of a dual-stack socket
      {"192.0.2.7", "192.0.2.7"},
      {"2001:db8:1:2:ffff::1", "2001:db8:1:2::/64"},
  };
  for (const auto& [address, group] : kCases) {
    EXPECT_EQ(AddressGroup(*platform::ParseIpAddress(address)), group) << address;
  }
}

// What a peer sends before the read begins, with headers taken from 127.0.0.0/8.
TEST(IdentifyClient, TakesTheHeaderOfABalancerAndNothingAfterIt) {
  const ProxyProtocol proxy{true, {*platform::ParseIpNetwork("127.0.0.0/8")}};
  struct Case {
    const char* peer;
    std::string sent;
    ClientRefusal refusal;
  };
  const Case kCases[] = {
      {"127.0.0.1", "PROXY TCP4 192.0.2.7 127.0.0.1 51234 3847\r\nQUIT\r\n", ClientRefusal::kNone},
      {"192.0.2.9", "PROXY TCP4 192.0.2.7 127.0.0.1 51234 3847\r\n", ClientRefusal::kNotABalancer},
      {"127.0.0.1", "FINDOFF\r\n", ClientRefusal::kBadHeader},
      {"127.0.0.1", "PROXY TCP4 192.0.2.7", ClientRefusal::kSlowHeader},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.sent);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    const platform::UniqueFd balancer(fds[0]), server(fds[1]);
    platform::SendAll(balancer.get(), c.sent);
    const ClientIdentity who =
        IdentifyClient(server.get(), {*platform::ParseIpAddress(c.peer), 40000}, proxy,
                       std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
    EXPECT_EQ(who.refusal, c.refusal);
    if (c.refusal != ClientRefusal::kNone) continue;
    EXPECT_EQ(platform::EndpointText(who.client), "192.0.2.7:51234");
    char rest[16] = {};  // the client's own first line is left for the conversation
    EXPECT_EQ(platform::Receive(server.get(), rest), 6);
    EXPECT_STREQ(rest, "QUIT\r\n");
  }
}

}  // namespace
}  // namespace server
