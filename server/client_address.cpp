#include "server/client_address.h"

#include "server/proxy_header.h"

namespace server {

ClientIdentity IdentifyClient(int fd, const platform::IpEndpoint& peer, const ProxyProtocol& proxy,
                              std::chrono::steady_clock::time_point deadline) {
  ClientIdentity identity{ClientRefusal::kNone, peer, false};
  if (!proxy.on) return identity;
  if (!platform::Contains(proxy.from, peer.address)) {
    identity.refusal = ClientRefusal::kNotABalancer;
    return identity;
  }
  const ProxyHeaderRead header = ReadProxyHeader(fd, deadline);
  switch (header.outcome) {
    case ProxyHeaderOutcome::kDone:
      identity.relayed = header.source.has_value();
      if (header.source) identity.client = *header.source;
      break;
    case ProxyHeaderOutcome::kInvalid:
      identity.refusal = ClientRefusal::kBadHeader;
      break;
    case ProxyHeaderOutcome::kTooSlow:
      identity.refusal = ClientRefusal::kSlowHeader;
      break;
    case ProxyHeaderOutcome::kClosed:
      identity.refusal = ClientRefusal::kClosedEarly;
      break;
  }
  return identity;
}

std::string AddressGroup(const platform::IpAddress& address) {
  if (!address.v6 && address.bytes[0] == 127) {
    return platform::IpNetworkText({platform::Masked(address, 8), 8});
  }
  if (address.v6) return platform::IpNetworkText({platform::Masked(address, 64), 64});
  return platform::IpAddressText(address);
}

}  // namespace server
