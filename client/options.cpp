#include "client/options.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>
#include <vector>

namespace client {

const char* const kUsage =
    "usage: quilmarend-check [options] DOCUMENT SIGNATURE\n"
    "       quilmarend-check [--server HOST[:PORT]] [--hash-server HOST[:PORT]] --gethash "
    "REFERENCE\n"
    "options: --ref, --cert FILE, --hashed-xml FILE, --time 'YYYY-MM-DD[ HH:MM:SS]', --no-crl,\n"
    "         --no-find, --key-lifetime DAYS, --oid OID, --upload-service NAME,\n"
    "         --hash-server HOST[:PORT], --html FILE, --json, --server HOST[:PORT], --help\n"
    "See quilmarend-check(1).\n";

namespace {

bool ReadNumber(std::string_view text, int low, int high, int& out) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return false;
  }
  out = value;
  return true;
}

// IsTimeText is true for "YYYY-MM-DD" and "YYYY-MM-DD HH:MM:SS" (digits where the pattern has
// them; the server judges the ranges).
bool IsTimeText(std::string_view text) {
  constexpr std::string_view kPattern = "9999-99-99 99:99:99";
  if (text.size() != 10 && text.size() != kPattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kPattern[i] == '9' ? !digit : text[i] != kPattern[i]) return false;
  }
  return true;
}

bool IsReference(std::string_view text) {
  for (const std::string_view scheme : {"http://", "https://", "file://", "tempfile://"}) {
    if (text.starts_with(scheme) && text.size() > scheme.size()) return true;
  }
  return false;
}

}  // namespace

std::optional<ServerAddress> ParseServerAddress(const std::string& text) {
  ServerAddress address;
  std::string_view port;  // what follows the host: empty or ":PORT"
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string::npos) return std::nullopt;
    address.host = text.substr(1, close - 1);
    // An IPv6 address, maybe with a zone ("fe80::1%eth0"), which the resolver checks.
    const std::string bare = address.host.substr(0, address.host.find('%'));
    in6_addr parsed{};
    if (inet_pton(AF_INET6, bare.c_str(), &parsed) != 1) return std::nullopt;
    port = std::string_view(text).substr(close + 1);
  } else {
    const size_t colon = text.find(':');
    address.host = text.substr(0, colon);
    if (colon != std::string::npos) port = std::string_view(text).substr(colon);
  }
  if (address.host.empty()) return std::nullopt;
  if (!port.empty() &&
      (!port.starts_with(':') || !ReadNumber(port.substr(1), 1, 65535, address.port))) {
    return std::nullopt;
  }
  return address;
}

std::string ServerAddress::Text() const {
  const std::string number = std::to_string(port);
  return host.find(':') == std::string::npos ? host + ":" + number : "[" + host + "]:" + number;
}

std::variant<Options, UsageError> ParseOptions(int argc, const char* const* argv,
                                               const char* environmentServer) {
  Options options;
  std::vector<std::string> positional;
  std::string serverText = environmentServer != nullptr ? environmentServer : "";
  std::string keyLifetime;

  // Options taking a value, as "--name VALUE" or "--name=VALUE".
  const std::pair<std::string_view, std::string*> valued[] = {
      {"--cert", &options.certificate},
      {"--hashed-xml", &options.hashedXml},
      {"--time", &options.time},
      {"--key-lifetime", &keyLifetime},
      {"--oid", &options.oid},
      {"--upload-service", &options.uploadService},
      {"--hash-server", &options.hashServer},
      {"--html", &options.htmlFile},
      {"--server", &serverText},
      {"--gethash", &options.getHash},
  };
  const std::pair<std::string_view, bool*> flags[] = {
      {"--ref", &options.documentIsReference},
      {"--no-crl", &options.noCrl},
      {"--no-find", &options.noFind},
      {"--json", &options.json},
      {"--help", &options.help},
  };
  bool onlyPositional = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (onlyPositional || !argument.starts_with("--")) {
      positional.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      onlyPositional = true;
      continue;
    }
    bool known = false;
    for (const auto& [name, target] : flags) {
      if (argument == name) *target = known = true;
    }
    for (const auto& [name, target] : valued) {
      if (known) break;
      if (argument == name) {
        if (i + 1 >= argc) return UsageError{std::string(name) + " needs a value"};
        *target = argv[++i];
        known = true;
      } else if (argument.starts_with(name) && argument.size() > name.size() &&
                 argument[name.size()] == '=') {
        *target = argument.substr(name.size() + 1);
        known = true;
      }
    }
    if (!known) return UsageError{"unknown option " + std::string(argument)};
  }
  if (options.help) return options;

  if (!serverText.empty()) {
    const std::optional<ServerAddress> address = ParseServerAddress(serverText);
    if (!address) {
      return UsageError{"the server must be HOST, HOST:PORT, [IPv6] or [IPv6]:PORT, not " +
                        serverText};
    }
    options.server = *address;
  }
  // The server reaches its hash server over IPv4 only.
  const std::optional<ServerAddress> hashServer = ParseServerAddress(options.hashServer);
  if (!options.hashServer.empty() &&
      (!hashServer || hashServer->host.find(':') != std::string::npos)) {
    return UsageError{"the hash server must be HOST or HOST:PORT, not " + options.hashServer};
  }
  if (!options.getHash.empty()) {
    if (!positional.empty()) return UsageError{"--gethash takes no DOCUMENT or SIGNATURE"};
    return options;
  }
  if (positional.size() != 2) return UsageError{"DOCUMENT and SIGNATURE are needed"};
  options.document = positional[0];
  options.signature = positional[1];

  if (options.documentIsReference && !IsReference(options.document)) {
    return UsageError{"--ref needs an http://, https://, file:// or tempfile:// reference"};
  }
  if (!options.hashedXml.empty() && options.certificate.empty()) {
    return UsageError{"--hashed-xml goes with --cert"};
  }
  if (!options.hashServer.empty() && (!options.documentIsReference || !options.hashedXml.empty())) {
    // The server replaces a referenced document by its digest text, which B64ON would decode;
    // the client sends B64OFF then, which only the document and the hashed fragment obey.
    return UsageError{"--hash-server needs --ref and cannot go with --hashed-xml"};
  }
  if (!options.time.empty() && !IsTimeText(options.time)) {
    return UsageError{"--time must be YYYY-MM-DD or 'YYYY-MM-DD HH:MM:SS'"};
  }
  if (!keyLifetime.empty()) {
    int days = 0;
    if (!ReadNumber(keyLifetime, 1, 1000000, days)) {
      return UsageError{"--key-lifetime must be a number of days from 1"};
    }
    options.keyLifetimeDays = days;
  }
  return options;
}

}  // namespace client
