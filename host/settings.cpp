#include "host/settings.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "host/host_texts.h"
#include "platform/base/log.h"
#include "platform/os/ip_address.h"
#include "platform/os/socket.h"

namespace host {
namespace {

// WholeNumber reads `text` as decimal digits only, at most `max`.
bool WholeNumber(std::string_view text, uint64_t max, uint64_t* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value <= max;
}

}  // namespace

std::variant<Settings, std::string> ReadSettings(
    const std::function<const char*(const char*)>& environment) {
  const auto value = [&environment](const char* name) -> std::string_view {
    const char* text = environment(name);
    return text != nullptr ? text : "";
  };
  Settings settings;
  uint64_t number = 0;
  if (const std::string_view port = value("QUILMAREND_PORT"); !port.empty()) {
    if (!WholeNumber(port, 65535, &number)) {
      return platform::FormatText(texts::kBadPortFormat, std::string(port).c_str());
    }
    settings.port = static_cast<int>(number);
  }
  if (const std::string_view address = value("QUILMAREND_LISTEN"); !address.empty()) {
    if (!platform::IsIpAddress(std::string(address))) {
      return platform::FormatText(texts::kBadListenAddressFormat, std::string(address).c_str());
    }
    settings.listenAddress = address;
  }
  if (const std::string_view level = value("QUILMAREND_LOG_LEVEL"); !level.empty()) {
    const std::optional<platform::LogLevel> parsed = platform::ParseLogLevel(level);
    if (!parsed) {
      return platform::FormatText(texts::kBadLogLevelFormat, std::string(level).c_str());
    }
    settings.logLevel = *parsed;
  }
  const std::pair<const char*, std::optional<platform::ListenEndpoint>*> endpoints[] = {
      {"QUILMAREND_METRICS_LISTEN", &settings.metricsListen},
      {"QUILMAREND_AGENT_LISTEN", &settings.agentListen}};
  for (const auto& [name, endpoint] : endpoints) {
    const std::string_view text = value(name);
    if (text.empty()) continue;
    *endpoint = platform::ParseListenEndpoint(text);
    if (!*endpoint) {
      return platform::FormatText(texts::kBadEndpointFormat, name, std::string(text).c_str());
    }
  }
  if (const std::string_view proxy = value("QUILMAREND_PROXY_PROTOCOL"); !proxy.empty()) {
    if (proxy != "on" && proxy != "off") {
      return platform::FormatText(texts::kBadOnOffFormat, "QUILMAREND_PROXY_PROTOCOL",
                                  std::string(proxy).c_str());
    }
    settings.proxy.on = proxy == "on";
  }
  if (const std::string_view from = value("QUILMAREND_PROXY_FROM"); !from.empty()) {
    const auto networks = platform::ParseIpNetworkList(from);
    if (!networks)
      return platform::FormatText(texts::kBadNetworkListFormat, std::string(from).c_str());
    settings.proxy.from = *networks;
  }
  // With the protocol on and no balancer listed, no connection could ever be served.
  if (settings.proxy.on && settings.proxy.from.empty())
    return std::string(texts::kProxyFromMissing);
  for (const char* name : {"QUILMAREND_MAX_HELD_MIB", "QUILMAREND_MAX_CONN_PER_ADDR"}) {
    const std::string_view text = value(name);
    if (!text.empty() && !WholeNumber(text, uint64_t{1} << 40, &number)) {
      return platform::FormatText(texts::kNotWholeNumberFormat, name, std::string(text).c_str());
    }
  }
  return settings;
}

}  // namespace host
