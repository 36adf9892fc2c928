#include "server/proxy_header.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <vector>

#include "platform/os/socket.h"
#include "platform/os/socket_wait.h"

namespace server {
namespace {

constexpr std::array<uint8_t, 12> kSignature = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                                0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
constexpr std::string_view kV1Prefix = "PROXY ";
// Enough to tell the versions apart, and less than either's shortest header.
constexpr size_t kFirstBytes = 8;
// "PROXY UNKNOWN\r\n", the shortest version 1 header, and the longest one with its CR LF.
constexpr size_t kV1Shortest = 15;
constexpr size_t kV1Longest = 107;
constexpr size_t kV2Fixed = 16;

// Begins is true when the first bytes of `received` and of `expected` agree.
template <class Bytes>
bool Begins(std::span<const uint8_t> received, const Bytes& expected) {
  const size_t n = std::min(received.size(), expected.size());
  return std::equal(received.begin(), received.begin() + n,
                    reinterpret_cast<const uint8_t*>(expected.data()));
}

ProxyHeaderParse NeedMore(size_t bytes) { return {ProxyHeaderStatus::kNeedMore, bytes, {}}; }
ProxyHeaderParse Done(size_t bytes, std::optional<platform::IpEndpoint> source = {}) {
  return {ProxyHeaderStatus::kDone, bytes, source};
}
constexpr ProxyHeaderParse kInvalid{};

uint16_t BigEndian16(std::span<const uint8_t> bytes) {
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// Port reads a decimal port without a sign or a leading zero.
std::optional<uint16_t> Port(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 65535 ||
      (text.size() > 1 && text[0] == '0')) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

// ParseV1Line reads the version 1 line without its CR LF, of `bytes` with them.
ProxyHeaderParse ParseV1Line(std::string_view line, size_t bytes) {
  std::vector<std::string_view> fields;
  for (size_t start = 0; start <= line.size();) {
    const size_t blank = std::min(line.find(' ', start), line.size());
    fields.push_back(line.substr(start, blank - start));
    start = blank + 1;
  }
  if (fields.size() >= 2 && fields[1] == "UNKNOWN") return Done(bytes);
  if (fields.size() != 6 || (fields[1] != "TCP4" && fields[1] != "TCP6")) return kInvalid;
  const bool v6 = fields[1] == "TCP6";
  const std::optional<platform::IpAddress> source = platform::ParseIpAddress(fields[2]);
  const std::optional<platform::IpAddress> destination = platform::ParseIpAddress(fields[3]);
  const std::optional<uint16_t> sourcePort = Port(fields[4]);
  // Each address is written as its family says (an IPv6 one may carry a mapped IPv4 address).
  const auto writtenAs = [v6](std::string_view text) {
    return (text.find(':') != std::string_view::npos) == v6;
  };
  if (!source || !destination || !sourcePort || !Port(fields[5]) || !writtenAs(fields[2]) ||
      !writtenAs(fields[3])) {
    return kInvalid;
  }
  return Done(bytes, platform::IpEndpoint{*source, *sourcePort});
}

ProxyHeaderParse ParseV1(std::span<const uint8_t> received) {
  const std::string_view text(reinterpret_cast<const char*>(received.data()), received.size());
  const size_t end = text.find("\r\n");
  if (end == std::string_view::npos) {
    if (received.size() >= kV1Longest) return kInvalid;
    return NeedMore(std::max(received.size() + 1, kV1Shortest));
  }
  if (end + 2 > kV1Longest) return kInvalid;
  return ParseV1Line(text.substr(0, end), end + 2);
}

ProxyHeaderParse ParseV2(std::span<const uint8_t> received) {
  if (received.size() < kV2Fixed) return NeedMore(kV2Fixed);
  const uint8_t versionCommand = received[12];
  const uint8_t family = received[13];
  const size_t bytes = kV2Fixed + BigEndian16(received.subspan(14, 2));
  const bool local = versionCommand == 0x20;  // the balancer's own connection: family ignored
  if (!local && versionCommand != 0x21) return kInvalid;
  if (!local) {
    // Only the families the protocol defines; a datagram one cannot have relayed a stream.
    if (family != 0x00 && family != 0x11 && family != 0x21 && family != 0x31) return kInvalid;
    const size_t addresses = family == 0x11 ? 12 : family == 0x21 ? 36 : family == 0x31 ? 216 : 0;
    if (bytes - kV2Fixed < addresses) return kInvalid;
  }
  if (received.size() < bytes) return NeedMore(bytes);
  if (local || (family != 0x11 && family != 0x21)) return Done(bytes);
  const size_t addressLength = family == 0x11 ? 4 : 16;
  const std::span<const uint8_t> rest = received.subspan(kV2Fixed);
  return Done(bytes, platform::IpEndpoint{platform::IpAddressFromBytes(rest.first(addressLength)),
                                          BigEndian16(rest.subspan(2 * addressLength, 2))});
}

}  // namespace

ProxyHeaderParse ParseProxyHeader(std::span<const uint8_t> received) {
  const bool v1 = Begins(received, kV1Prefix);
  const bool v2 = Begins(received, kSignature);
  if (!v1 && !v2) return kInvalid;
  if (received.size() < kFirstBytes) return NeedMore(kFirstBytes);
  return v1 ? ParseV1(received) : ParseV2(received);
}

ProxyHeaderRead ReadProxyHeader(int fd, std::chrono::steady_clock::time_point deadline) {
  std::vector<uint8_t> header;
  for (;;) {
    const ProxyHeaderParse parse = ParseProxyHeader(header);
    if (parse.status == ProxyHeaderStatus::kInvalid) return {ProxyHeaderOutcome::kInvalid, {}};
    if (parse.status == ProxyHeaderStatus::kDone) return {ProxyHeaderOutcome::kDone, parse.source};
    const platform::WaitResult wait = platform::WaitReadable(fd, deadline);
    if (wait == platform::WaitResult::kTimedOut) return {ProxyHeaderOutcome::kTooSlow, {}};
    if (wait != platform::WaitResult::kReady) return {ProxyHeaderOutcome::kClosed, {}};
    const size_t had = header.size();
    header.resize(parse.bytes);
    const ssize_t received = platform::Receive(
        fd, std::span<char>(reinterpret_cast<char*>(header.data()) + had, parse.bytes - had));
    if (received <= 0) return {ProxyHeaderOutcome::kClosed, {}};
    header.resize(had + static_cast<size_t>(received));
  }
}

}  // namespace server
