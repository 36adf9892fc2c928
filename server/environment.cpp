#include "server/environment.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "server/server_limits.h"

namespace server {

uint64_t WholeNumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return 0;
  const std::string_view view(text);
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (error != std::errc() || end != view.data() + view.size()) return 0;
  return value;
}

Limits Limits::FromEnvironment() {
  Limits limits;
  const uint64_t cap = WholeNumberFromEnvironment("QUILMAREND_MAX_CONN_PER_ADDR");
  limits.maxConnectionsPerAddress = static_cast<int>(std::min<uint64_t>(cap, INT_MAX));
  // Past 2^44 MiB the byte count would overflow; such a limit is no limit anyway.
  const std::pair<const char*, uint64_t*> sizes[] = {
      {"QUILMAREND_MAX_HELD_MIB", &limits.maxHeldBytesTogether},
      {"QUILMAREND_MAX_XML_MIB", &limits.maxXmlDocumentBytes}};
  for (const auto& [name, bytes] : sizes) {
    const uint64_t mib = WholeNumberFromEnvironment(name);
    if (mib != 0 && mib <= (uint64_t{1} << 44)) *bytes = mib << 20;
  }
  return limits;
}

}  // namespace server
