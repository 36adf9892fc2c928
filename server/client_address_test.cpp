#include "server/client_address.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include "platform/base/unique_fd.h"
#include "platform/os/socket.h"

namespace server {
namespace {

TEST(AddressGroup, CountsLoopbackAsOneAndIpv6ByItsSlash64) {
  struct Case {
    std::string_view address, group;
  };
  const Case kCases[] = {
      {"127.0.0.1", "127.0.0.0/8"},
      {"127.45.6.7", "127.0.0.0/8"},
      {"::ffff:127.0.0.9", "127.0.0.0/8"},  // an IPv4 client of a dual-stack socket
      {"192.0.2.7", "192.0.2.7"},
      {"::ffff:192.0.2.7", "192.0.2.7"},
      {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {"2001:db8:1:2:ffff::1", "2001:db8:1:2::/64"},
      {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
      {"::1", "::/64"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(AddressGroup(*platform::ParseIpAddress(c.address)), c.group);
  }
}

// The connection's first bytes, sent before IdentifyClient reads them, against a protocol that
// takes headers from 127.0.0.0/8 only.
TEST(IdentifyClient, TakesTheHeaderOfABalancerAndNothingAfterIt) {
  const ProxyProtocol proxy{true, {*platform::ParseIpNetwork("127.0.0.0/8")}};
  const platform::IpEndpoint balancer{*platform::ParseIpAddress("127.0.0.1"), 40000};
  const platform::IpEndpoint stranger{*platform::ParseIpAddress("192.0.2.9"), 40000};
  struct Case {
    const char* why;
    platform::IpEndpoint peer;
    std::string sent;
    bool closeAfter;
    ClientRefusal refusal;
    std::string client;  // as the request lines name it
  };
  const Case kCases[] = {
      {"relayed", balancer, "PROXY TCP4 192.0.2.7 127.0.0.1 51234 3847\r\n", false,
       ClientRefusal::kNone, "192.0.2.7:51234"},
      {"a health check", balancer, "PROXY UNKNOWN\r\n", false, ClientRefusal::kNone,
       "127.0.0.1:40000"},
      {"not a balancer", stranger, "PROXY TCP4 192.0.2.7 127.0.0.1 51234 3847\r\n", false,
       ClientRefusal::kNotABalancer, ""},
      {"no header", balancer, "FINDOFF\r\n", false, ClientRefusal::kBadHeader, ""},
      {"half a header, then nothing", balancer, "PROXY TCP4 192.0.2.7", false,
       ClientRefusal::kSlowHeader, ""},
      {"half a header, then the close", balancer, "PROXY TCP4 192.0.2.7", true,
       ClientRefusal::kClosedEarly, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    platform::UniqueFd balancerEnd(fds[0]), serverEnd(fds[1]);
    // A client's first line follows a good header at once.
    const bool good = c.refusal == ClientRefusal::kNone;
    ASSERT_TRUE(platform::SendAll(balancerEnd.get(), c.sent + (good ? "QUIT\r\n" : "")));
    if (c.closeAfter) balancerEnd.reset();
    // Everything was sent before the read begins; what is unfinished then stays so.
    const ClientIdentity who =
        IdentifyClient(serverEnd.get(), c.peer, proxy,
                       std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
    EXPECT_EQ(who.refusal, c.refusal);
    if (!good) continue;
    EXPECT_EQ(platform::EndpointText(who.client), c.client);
    char rest[16] = {};
    EXPECT_EQ(platform::Receive(serverEnd.get(), std::span<char>(rest, sizeof rest)), 6);
    EXPECT_STREQ(rest, "QUIT\r\n");
  }
}

}  // namespace
}  // namespace server
