#include "server/environment.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "server/server_limits.h"

namespace server {

std::optional<uint64_t> WholeNumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return std::nullopt;
  const std::string_view view(text);
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (view.empty() || error != std::errc() || end != view.data() + view.size()) return std::nullopt;
  return value;
}

Limits Limits::FromEnvironment() {
  Limits limits;
  if (const std::optional<uint64_t> cap =
          WholeNumberFromEnvironment("QUILMAREND_MAX_CONN_PER_ADDR")) {
    limits.maxConnectionsPerAddress = static_cast<int>(std::min<uint64_t>(*cap, INT_MAX));
  }
  // Past 2^44 MiB the byte count would overflow; such a limit is no limit anyway.
  const std::optional<uint64_t> mib = WholeNumberFromEnvironment("QUILMAREND_MAX_HELD_MIB");
  if (mib && *mib != 0 && *mib <= (uint64_t{1} << 44)) limits.maxHeldBytesTogether = *mib << 20;
  return limits;
}

}  // namespace server
