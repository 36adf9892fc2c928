#pragma once

// IP addresses and networks as the server's access rules read them: literal IPv4 and IPv6
// addresses, where an IPv4-mapped IPv6 address (::ffff:192.0.2.7, as a dual-stack socket reports
// an IPv4 peer) is always the IPv4 address it carries, and networks written as an address with an
// optional prefix length ("10.0.0.0/8", "2001:db8::/32").
//
// Example:
//   const std::optional<std::vector<IpNetwork>> balancers =
//   ParseIpNetworkList("127.0.0.1,10.0.0.0/8"); const std::optional<IpEndpoint> peer =
//   PeerIpEndpoint(fd); if (peer && Contains(*balancers, peer->address)) ...

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// IpAddress is an IPv4 or IPv6 address, its bytes in network order; never an IPv4-mapped one.
struct IpAddress {
  bool v6 = false;
  std::array<uint8_t, 16> bytes{};  // an IPv4 address in the first four, the rest 0

  bool operator==(const IpAddress&) const = default;
};

// IpAddressFromBytes is the address of 4 (IPv4) or 16 (IPv6) bytes in network order; an
// IPv4-mapped IPv6 address gives its IPv4 address.
IpAddress IpAddressFromBytes(std::span<const uint8_t> bytes);
// ParseIpAddress reads a literal IPv4 ("192.0.2.7") or IPv6 ("2001:db8::7") address, nothing
// else (no brackets, zone, port or blanks); nullopt for anything else.
std::optional<IpAddress> ParseIpAddress(std::string_view text);
// IpAddressText writes the address in its usual form: "192.0.2.7", "2001:db8::7".
std::string IpAddressText(const IpAddress& address);
// Masked returns `address` with all but its first `prefixBits` bits cleared.
IpAddress Masked(const IpAddress& address, int prefixBits);

// IpEndpoint is an address and a port.
struct IpEndpoint {
  IpAddress address;
  uint16_t port = 0;
};

// EndpointText writes "192.0.2.7:51234", or "[2001:db8::7]:51234" for IPv6.
std::string EndpointText(const IpEndpoint& endpoint);
// PeerIpEndpoint returns the peer of the connection `fd`; nullopt when it cannot be read (the
// peer has gone already, say) or is not an IP peer.
std::optional<IpEndpoint> PeerIpEndpoint(int fd);

// IpNetwork is the addresses whose first `prefixBits` bits are those of `base`.
struct IpNetwork {
  IpAddress base;  // its other bits cleared
  int prefixBits = 0;
};

// ParseIpNetwork reads "ADDRESS/PREFIX" (0 to 32 for IPv4, 0 to 128 for IPv6) or a bare address
// (all of its bits); bits past the prefix are cleared. An IPv4-mapped network with a prefix of
// 96 or more is the IPv4 network it carries. Nullopt for anything else.
std::optional<IpNetwork> ParseIpNetwork(std::string_view text);
// ParseIpNetworkList reads networks separated by commas, each with blanks around it allowed;
// nullopt when the list is empty or one of them is not a network.
std::optional<std::vector<IpNetwork>> ParseIpNetworkList(std::string_view text);
// IpNetworkText writes "10.0.0.0/8", "2001:db8::/32".
std::string IpNetworkText(const IpNetwork& network);
// Contains is true when `address` is in one of `networks`.
bool Contains(std::span<const IpNetwork> networks, const IpAddress& address);

}  // namespace platform
