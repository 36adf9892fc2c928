#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <charconv>

#include "platform/os/ip_address.h"

namespace platform {
namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

int Bits(const IpAddress& address) { return address.v6 ? 128 : 32; }

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

IpAddress IpAddressFromBytes(std::span<const uint8_t> bytes) {
  assert(bytes.size() == 4 || bytes.size() == 16);
  IpAddress address;
  if (bytes.size() == 16 && std::equal(kMappedPrefix, kMappedPrefix + 12, bytes.begin())) {
    bytes = bytes.subspan(12);
  }
  address.v6 = bytes.size() == 16;
  std::copy(bytes.begin(), bytes.end(), address.bytes.begin());
  return address;
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  // The system's parser reads up to a NUL byte; one inside would cut the text short.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string terminated(text);
  uint8_t bytes[16];
  if (::inet_pton(AF_INET, terminated.c_str(), bytes) == 1) {
    return IpAddressFromBytes(std::span<const uint8_t>(bytes, 4));
  }
  if (::inet_pton(AF_INET6, terminated.c_str(), bytes) == 1) {
    return IpAddressFromBytes(std::span<const uint8_t>(bytes, 16));
  }
  return std::nullopt;
}

std::string IpAddressText(const IpAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text);
  return text;
}

IpAddress Masked(const IpAddress& address, int prefixBits) {
  IpAddress masked = address;
  for (int bit = std::max(prefixBits, 0); bit < Bits(address); ++bit) {
    masked.bytes[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
  }
  return masked;
}

std::string EndpointText(const IpEndpoint& endpoint) {
  const std::string address = IpAddressText(endpoint.address);
  return (endpoint.address.v6 ? "[" + address + "]" : address) + ":" +
         std::to_string(endpoint.port);
}

std::optional<IpEndpoint> PeerIpEndpoint(int fd) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return std::nullopt;
  if (storage.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&storage);
    return IpEndpoint{
        IpAddressFromBytes(std::span(reinterpret_cast<const uint8_t*>(&v4->sin_addr), 4)),
        ntohs(v4->sin_port)};
  }
  if (storage.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    return IpEndpoint{
        IpAddressFromBytes(std::span(reinterpret_cast<const uint8_t*>(&v6->sin6_addr), 16)),
        ntohs(v6->sin6_port)};
  }
  return std::nullopt;
}

std::optional<IpNetwork> ParseIpNetwork(std::string_view text) {
  const size_t slash = text.find('/');
  const std::optional<IpAddress> address = ParseIpAddress(text.substr(0, slash));
  if (!address) return std::nullopt;
  // A mapped network names IPv4 addresses, which are never read as mapped ones.
  const bool mapped = !address->v6 && text.substr(0, slash).find(':') != std::string_view::npos;
  int prefix = mapped ? 128 : Bits(*address);
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        prefix < (mapped ? 96 : 0) || prefix > (mapped ? 128 : Bits(*address))) {
      return std::nullopt;
    }
  }
  if (mapped) prefix -= 96;
  return IpNetwork{Masked(*address, prefix), prefix};
}

std::optional<std::vector<IpNetwork>> ParseIpNetworkList(std::string_view text) {
  std::vector<IpNetwork> networks;
  for (size_t start = 0; start <= text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::optional<IpNetwork> network =
        ParseIpNetwork(Trimmed(text.substr(start, comma - start)));
    if (!network) return std::nullopt;
    networks.push_back(*network);
    start = comma + 1;
  }
  return networks;
}

std::string IpNetworkText(const IpNetwork& network) {
  return IpAddressText(network.base) + "/" + std::to_string(network.prefixBits);
}

bool Contains(std::span<const IpNetwork> networks, const IpAddress& address) {
  return std::any_of(networks.begin(), networks.end(), [&address](const IpNetwork& network) {
    return network.base.v6 == address.v6 && Masked(address, network.prefixBits) == network.base;
  });
}

}  // namespace platform
