#include "platform/os/socket.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(ConnectTcp, ResolvesIpv6OnlyWhenAsked) {
  const ListenResult listening = OpenListenSocket(0, 4);  // IPv4 only
  ASSERT_TRUE(listening.fd);
  const uint16_t port = LocalPort(listening.fd.get());
  bool resolveFailed = false;
  uint32_t resolverCode = 0;
  // The hash-server client asks for IPv4 only: an IPv6 address is no name it can resolve.
  EXPECT_FALSE(ConnectTcp("::1", port, 2000, &resolveFailed, &resolverCode));
  EXPECT_TRUE(resolveFailed);
  // Asked for both, a name whose first address is IPv6 (Debian's "localhost" is ::1 as well)
  // still reaches an IPv4-only listener through its next address.
  for (const char* host : {"localhost", "127.0.0.1"}) {
    SCOPED_TRACE(host);
    EXPECT_TRUE(
        ConnectTcp(host, port, 2000, &resolveFailed, &resolverCode, AddressFamilies::kIpv4AndIpv6));
  }
}

}  // namespace
}  // namespace platform
