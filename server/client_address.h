#pragma once

// Who the client of an accepted connection is, and what the cap of connections per client
// address counts it as. Behind balancers that speak the PROXY protocol the client is the one the
// balancer's header names; the header is taken only from the balancers' addresses, and with the
// protocol on, every connection must begin with one.
//
// Example:
//   const ClientIdentity who = IdentifyClient(fd, *peer, proxy, steady_clock::now() + 5s);
//   if (who.refusal == ClientRefusal::kNone) Admit(AddressGroup(who.client.address));

#include <chrono>
#include <string>
#include <vector>

#include "platform/os/ip_address.h"

namespace server {

// ProxyProtocol says whether connections come through balancers that name their clients with a
// PROXY protocol header (versions 1 and 2), and from which addresses such headers are taken.
struct ProxyProtocol {
  bool on = false;
  std::vector<platform::IpNetwork> from;
};

enum class ClientRefusal {
  kNone,          // the client is known
  kNotABalancer,  // the protocol is on and the peer is not a listed balancer
  kBadHeader,     // no header, or a malformed one
  kSlowHeader,    // the header did not come whole in time
  kClosedEarly,   // the peer closed before its header was whole
};

struct ClientIdentity {
  ClientRefusal refusal = ClientRefusal::kNone;
  platform::IpEndpoint client;  // the peer, or the client its header names
  bool relayed = false;         // `client` comes from a header
};

// IdentifyClient returns the client of the connection `fd` whose peer is `peer`: the peer itself
// when `proxy` is off; otherwise, for a listed balancer, the client its header names (the peer
// for a header that names none, such as a health check's), read by `deadline`, or the refusal.
// Reads the header and nothing after it.
ClientIdentity IdentifyClient(int fd, const platform::IpEndpoint& peer, const ProxyProtocol& proxy,
                              std::chrono::steady_clock::time_point deadline);

// AddressGroup is what the cap of connections per client address counts `address` as, written as
// a network: all of 127.0.0.0/8 as one ("127.0.0.0/8", so that a local user cannot go round the
// cap with other loopback addresses), an IPv6 address by its /64 ("2001:db8:1:2::/64", which a
// single host or site is usually given whole), any other IPv4 address by itself ("192.0.2.7").
std::string AddressGroup(const platform::IpAddress& address);

}  // namespace server
