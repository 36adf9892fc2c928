#include "host/settings.h"

#include <charconv>
#include <limits>

#include "platform/base/log.h"
#include "platform/os/ip_address.h"
#include "platform/os/socket.h"

namespace host {
namespace {

// Number reads `text` as decimal digits only, from `min` to `max`.
template <typename T>
bool Number(std::string_view text, uint64_t min, uint64_t max, T* value) {
  uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < min || number > max)
    return false;
  *value = static_cast<T>(number);
  return true;
}

bool AbsolutePath(std::string_view text) { return text.starts_with('/'); }

bool Endpoint(std::string_view text, std::optional<platform::ListenEndpoint>* endpoint) {
  *endpoint = platform::ParseListenEndpoint(text);
  return endpoint->has_value();
}

constexpr const char* kEndpointRefusal =
    "not an IPv4 address and port (127.0.0.1:9384) or IPv6 ([::1]:9384)";

const SettingRow kRows[] = {
    {"QUILMAREND_PORT", "3847", "the TCP port to listen on", "not a port number (0 to 65535)",
     [](std::string_view v, Settings& s) { return Number(v, 0, 65535, &s.port); }},
    {"QUILMAREND_LISTEN", "0.0.0.0",
     "the address to bind: a literal IPv4 or IPv6 address (127.0.0.1: this machine only)",
     "not an IPv4 or IPv6 address",
     [](std::string_view v, Settings& s) {
       if (!platform::IsIpAddress(std::string(v))) return false;
       s.listenAddress = v;
       return true;
     }},
    {"QUILMAREND_LOG_LEVEL", "debug",
     "debug (every line), info (errors, notices, a line per request), notice or error",
     "not one of error, notice, info, debug",
     [](std::string_view v, Settings& s) {
       const std::optional<platform::LogLevel> level = platform::ParseLogLevel(v);
       if (level) s.logLevel = *level;
       return level.has_value();
     }},
    {"QUILMAREND_LOG", "", "append the log to this regular file instead of standard error",
     "not an absolute path",
     [](std::string_view v, Settings& s) {
       s.logFile = v;
       return AbsolutePath(v);
     }},
    {"QUILMAREND_MAX_HELD_MIB", "2048",
     "MiB the data blocks of all connections may hold together (1 to 1048576)",
     "not a whole number from 1 to 1048576",
     [](std::string_view v, Settings& s) { return Number(v, 1, 1 << 20, &s.maxHeldMib); }},
    {"QUILMAREND_MAX_XML_MIB", "64",
     "MiB of a referenced document that is canonicalized as XML, parsed in memory (1 to 2048)",
     "not a whole number from 1 to 2048",
     [](std::string_view v, Settings& s) { return Number(v, 1, 2048, &s.maxXmlMib); }},
    {"QUILMAREND_MAX_CONN_PER_ADDR", "16",
     "connections at once from one client address, 127.0.0.0/8 one, IPv6 by /64 (0: no cap)",
     "not a whole number from 0 to 100000",
     [](std::string_view v, Settings& s) {
       return Number(v, 0, 100000, &s.maxConnectionsPerAddress);
     }},
    {"QUILMAREND_PROXY_PROTOCOL", "off",
     "on: every connection begins with a PROXY protocol header (v1, v2) naming the client",
     "not on or off",
     [](std::string_view v, Settings& s) {
       s.proxy.on = v == "on";
       return v == "on" || v == "off";
     }},
    {"QUILMAREND_PROXY_FROM", "",
     "the balancers whose PROXY headers are taken, addresses or networks separated by commas",
     "not addresses or networks separated by commas (127.0.0.1,10.0.0.0/8,2001:db8::/32)",
     [](std::string_view v, Settings& s) {
       const std::optional<std::vector<platform::IpNetwork>> networks =
           platform::ParseIpNetworkList(v);
       if (networks) s.proxy.from = *networks;
       return networks.has_value();
     }},
    {"QUILMAREND_CERT_CACHE", "1024", "decoded certificates kept for later checks (0: none)",
     "not a whole number from 0 to 1048576",
     [](std::string_view v, Settings& s) { return Number(v, 0, 1 << 20, &s.certCacheEntries); }},
    {"QUILMAREND_METRICS_LISTEN", "",
     "ADDRESS:PORT of the HTTP page for Prometheus (/metrics) and /healthz; unset: off",
     kEndpointRefusal,
     [](std::string_view v, Settings& s) { return Endpoint(v, &s.metricsListen); }},
    {"QUILMAREND_AGENT_LISTEN", "",
     "ADDRESS:PORT where HAProxy's agent check is answered; unset: off", kEndpointRefusal,
     [](std::string_view v, Settings& s) { return Endpoint(v, &s.agentListen); }},
    {"QUILMAREND_HTTP_LISTEN", "",
     "ADDRESS:PORT of the HTTP/JSON verification API and its page; unset: off", kEndpointRefusal,
     [](std::string_view v, Settings& s) { return Endpoint(v, &s.httpListen); }},
    {"QUILMAREND_HTTP_MAX_BODY_MIB", "2048",
     "MiB one request to the HTTP API may carry (1 to 2048)", "not a whole number from 1 to 2048",
     [](std::string_view v, Settings& s) { return Number(v, 1, 2048, &s.httpMaxBodyMib); }},
    {"QUILMAREND_HTTP_WORKERS", "",
     "verifications the HTTP API runs at once (1 to 1024; unset: one per core)",
     "not a whole number from 1 to 1024",
     [](std::string_view v, Settings& s) { return Number(v, 1, 1024, &s.httpWorkers); }},
    {"QUILMAREND_UNC_ROOT", "/net", "where file://host/share/... shares are mounted",
     "not an absolute path", [](std::string_view v, Settings&) { return AbsolutePath(v); }},
    {"QUILMAREND_HOME", "",
     "the state root (/var/lib/quilmarend for root, else $XDG_STATE_HOME/quilmarend)",
     "not an absolute path", [](std::string_view v, Settings&) { return AbsolutePath(v); }, false},
    {"QUILMAREND_SYSTEMD_DIR", "/etc/systemd/system",
     "where -i writes and -u removes the service's unit", "not an absolute path",
     [](std::string_view v, Settings&) { return AbsolutePath(v); }, false},
};

}  // namespace

std::span<const SettingRow> SettingRows() { return kRows; }

std::variant<Settings, std::string> ReadSettings(
    const std::function<const char*(const char*)>& environment) {
  Settings settings;
  for (const SettingRow& row : kRows) {
    if (*row.defaultValue != '\0' && !row.parse(row.defaultValue, settings)) {
      return platform::FormatText("%s: %s: %s", row.name, row.refusal, row.defaultValue);
    }
    const char* value = environment(row.name);
    if (value == nullptr || *value == '\0') continue;
    if (!row.parse(value, settings)) {
      return platform::FormatText("%s: %s: %s", row.name, row.refusal, value);
    }
  }
  // With the protocol on and no balancer listed, no connection could ever be served.
  if (settings.proxy.on && settings.proxy.from.empty()) {
    return std::string(
        "QUILMAREND_PROXY_FROM: name the balancers' addresses, as QUILMAREND_PROXY_PROTOCOL is on");
  }
  return settings;
}

std::string SettingsHelp() {
  std::string help;
  for (const SettingRow& row : kRows) {
    help += std::string("  ") + row.name;
    if (*row.defaultValue != '\0') help += std::string("=") + row.defaultValue;
    help += std::string("\n      ") + row.help + "\n";
  }
  return help;
}

}  // namespace host
