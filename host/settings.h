#pragma once

// File: the server's settings, read once at start from the environment, which the service's unit
// fills from /etc/default/quilmarend. A bad value stops the start with one line that names it.
//
// Example:
//   const auto read = host::ReadSettings(std::getenv);
//   if (const std::string* error = std::get_if<std::string>(&read)) { Print(*error); return 2; }

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "platform/base/log.h"
#include "platform/os/socket.h"
#include "server/client_address.h"

namespace host {

struct Settings {
  int port = 3847;                        // QUILMAREND_PORT
  std::string listenAddress = "0.0.0.0";  // QUILMAREND_LISTEN: a literal IPv4 or IPv6 address
  platform::LogLevel logLevel = platform::LogLevel::kDebug;  // QUILMAREND_LOG_LEVEL
  // QUILMAREND_METRICS_LISTEN and QUILMAREND_AGENT_LISTEN, "ADDRESS:PORT": the operators'
  // endpoints, off when unset.
  std::optional<platform::ListenEndpoint> metricsListen;
  std::optional<platform::ListenEndpoint> agentListen;
  // QUILMAREND_PROXY_PROTOCOL ("on" or "off") and QUILMAREND_PROXY_FROM, the balancers whose
  // PROXY headers name the clients.
  server::ProxyProtocol proxy;
};

// ReadSettings reads QUILMAREND_PORT, QUILMAREND_LISTEN, QUILMAREND_LOG_LEVEL,
// QUILMAREND_METRICS_LISTEN, QUILMAREND_AGENT_LISTEN, QUILMAREND_PROXY_PROTOCOL and
// QUILMAREND_PROXY_FROM (required when the protocol is on) through
// `environment` (getenv's shape: null for an unset variable; an empty value counts as unset), and
// checks that QUILMAREND_MAX_HELD_MIB and QUILMAREND_MAX_CONN_PER_ADDR, which the server reads
// itself, are whole numbers. Returns the settings, or the line that names the first bad value.
std::variant<Settings, std::string> ReadSettings(
    const std::function<const char*(const char*)>& environment);

}  // namespace host
