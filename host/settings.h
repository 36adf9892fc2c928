#pragma once

// File: the server's settings, read once at start from the environment, which the service's unit
// fills from /etc/default/quilmarend. Every setting is one row of one table (its name, default,
// one line of help and its parser); the start-up validation, --help and the tests that hold the
// documents to it all read that table. A bad value stops the start with one line that names it.
//
// Example:
//   const auto read = host::ReadSettings(std::getenv);
//   if (const std::string* error = std::get_if<std::string>(&read)) { Print(*error); return 2; }

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "platform/base/log.h"
#include "platform/os/socket.h"
#include "server/client_address.h"

namespace host {

struct Settings {
  int port = 0;                                              // QUILMAREND_PORT
  std::string listenAddress;                                 // QUILMAREND_LISTEN
  platform::LogLevel logLevel = platform::LogLevel::kDebug;  // QUILMAREND_LOG_LEVEL
  std::string logFile;                                       // QUILMAREND_LOG; empty: stderr
  uint64_t maxHeldMib = 0;                                   // QUILMAREND_MAX_HELD_MIB
  uint64_t maxXmlMib = 0;                                    // QUILMAREND_MAX_XML_MIB
  int maxConnectionsPerAddress = 0;                          // QUILMAREND_MAX_CONN_PER_ADDR
  size_t certCacheEntries = 0;                               // QUILMAREND_CERT_CACHE
  // QUILMAREND_METRICS_LISTEN and QUILMAREND_AGENT_LISTEN, "ADDRESS:PORT": the operators'
  // endpoints, off when unset.
  std::optional<platform::ListenEndpoint> metricsListen;
  std::optional<platform::ListenEndpoint> agentListen;
  // QUILMAREND_PROXY_PROTOCOL ("on" or "off") and QUILMAREND_PROXY_FROM, the balancers whose
  // PROXY headers name the clients.
  server::ProxyProtocol proxy;
  // QUILMAREND_HTTP_LISTEN: the HTTP/JSON front, off when unset; its body limit and its workers
  // (0: one per core).
  std::optional<platform::ListenEndpoint> httpListen;
  uint64_t httpMaxBodyMib = 0;  // QUILMAREND_HTTP_MAX_BODY_MIB
  int httpWorkers = 0;          // QUILMAREND_HTTP_WORKERS
};

// SettingRow is one setting: its variable, its default as the service's file would write it
// (empty: unset), one line of help, why a value is refused, and the parser that stores a good
// value into Settings (false for a bad one). Settings that only name a place (the state root,
// the shares' mount point) are read where they are used; their parser only checks the value.
struct SettingRow {
  const char* name;
  const char* defaultValue;
  const char* help;
  const char* refusal;
  bool (*parse)(std::string_view value, Settings& settings);
  // Whether /etc/default/quilmarend lists it: false for those the unit sets itself or that only
  // the command line's registration reads.
  bool inServiceFile = true;
};

// SettingRows is the table, in the order --help and the documents list the settings.
std::span<const SettingRow> SettingRows();

// ReadSettings starts from every row's default and reads each variable through `environment`
// (getenv's shape: null for an unset variable; an empty value counts as unset). Returns the
// settings, or the line that names the first bad value: "NAME: <refusal>: <value>", or the line
// that says QUILMAREND_PROXY_FROM is missing while QUILMAREND_PROXY_PROTOCOL is on.
std::variant<Settings, std::string> ReadSettings(
    const std::function<const char*(const char*)>& environment);

// SettingsHelp is the settings part of --help: for each row a line "  NAME=default" (the bare
// name when it has none) and its help on the next line.
std::string SettingsHelp();

}  // namespace host
