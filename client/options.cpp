#include "client/options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

namespace client {

const char* const kUsage =
    "usage: quilmarend-check [options] DOCUMENT SIGNATURE\n"
    "       quilmarend-check [options] --batch FILE|-\n"
    "       quilmarend-check [--server HOST[:PORT]] [--hash-server HOST[:PORT]] --gethash "
    "REFERENCE\n"
    "Asks a Quilmarend server whether SIGNATURE (a detached CMS signature: DER, PEM or Base64) is\n"
    "valid for DOCUMENT, and prints its answer.\n"
    "  --json                  one JSON object (with --batch, one per line)\n"
    "  --batch FILE|-          check the pairs of FILE's lines DOCUMENT<TAB>SIGNATURE, over one\n"
    "                          connection; -0: names that end in NUL bytes, taken in pairs\n"
    "  --server HOST[:PORT]    the server (default $QUILMAREND_SERVER, else 127.0.0.1:3847)\n"
    "  --timeout SECONDS       for the connection and for each answer (default 30)\n"
    "  --ref                   DOCUMENT is a reference the server fetches (http://, file:///...)\n"
    "  --cert FILE             SIGNATURE is a bare signature value of this certificate's key\n"
    "  --hashed-xml FILE       the signed XML fragment, with --cert\n"
    "  --time 'YYYY-MM-DD[ HH:MM:SS]', --no-crl, --no-find, --key-lifetime DAYS, --oid OID,\n"
    "  --upload-service NAME, --hash-server HOST[:PORT]: the settings of the same meaning\n"
    "  --html FILE             write the server's HTML report to FILE\n"
    "  -h, --help, --version\n"
    "Exit status: 0 the three checks are OK, 1 a check failed, 2 a usage or input error,\n"
    "3 the server could not be reached or answered with an error. See quilmarend-check(1).\n";

const char* const kUsageHint = "Try 'quilmarend-check --help'.\n";

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

// IsTimeText is true for "YYYY-MM-DD" and "YYYY-MM-DD HH:MM:SS" with each field in the range the
// server takes (a year up to 3000, the last the server's clock functions cover).
bool IsTimeText(std::string_view text) {
  constexpr std::string_view kPattern = "9999-99-99 99:99:99";
  if (text.size() != 10 && text.size() != kPattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kPattern[i] == '9' ? !digit : text[i] != kPattern[i]) return false;
  }
  struct Field {
    size_t at, length;
    int low, high;
  };
  constexpr Field kFields[] = {{0, 4, 1970, 3000}, {5, 2, 1, 12},  {8, 2, 1, 31},
                               {11, 2, 0, 23},     {14, 2, 0, 59}, {17, 2, 0, 59}};
  int ignored = 0;
  return std::all_of(std::begin(kFields), std::end(kFields), [&](const Field& field) {
    return field.at >= text.size() ||
           ReadNumber(text.substr(field.at, field.length), field.low, field.high, ignored);
  });
}

// EditDistance is the number of single-character insertions, deletions and substitutions that
// turn `a` into `b`.
size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// Suggestion is " (did you mean --name?)" for the known option nearest to `given` when it is a
// slip away (two edits, or one for a short name), else empty.
std::string Suggestion(std::string_view given, const std::vector<std::string_view>& known) {
  const std::string_view name = given.substr(0, given.find('='));
  std::string_view best;
  size_t bestDistance = 3;
  for (const std::string_view option : known) {
    const size_t distance = EditDistance(name, option);
    if (distance < bestDistance && distance <= option.size() / 3) {
      best = option;
      bestDistance = distance;
    }
  }
  return best.empty() ? std::string() : " (did you mean " + std::string(best) + "?)";
}

// CheckCombination is why the options given cannot go together; empty when they can.
std::string CheckCombination(const Options& options, size_t positionalCount) {
  if (!options.getHash.empty()) {
    if (positionalCount != 0 || !options.batch.empty()) {
      return "--gethash takes no DOCUMENT, SIGNATURE or --batch";
    }
    if (options.json) return "--json goes with checks, not with --gethash";
    return {};
  }
  if (!options.batch.empty()) {
    if (positionalCount != 0) return "--batch takes its pairs from FILE, not DOCUMENT SIGNATURE";
    for (const auto& [given, name] : {std::pair{&options.certificate, "--cert"},
                                      {&options.hashedXml, "--hashed-xml"},
                                      {&options.htmlFile, "--html"},
                                      {&options.uploadService, "--upload-service"}}) {
      if (!given->empty()) return std::string("--batch cannot go with ") + name;
    }
  } else if (options.nulSeparated) {
    return "-0 goes with --batch";
  } else if (positionalCount == 0) {
    return "DOCUMENT and SIGNATURE are missing";
  } else if (positionalCount == 1) {
    return "SIGNATURE is missing after DOCUMENT";
  } else if (positionalCount > 2) {
    return "only DOCUMENT and SIGNATURE are taken; names with blanks need quotes";
  }
  if (options.documentIsReference && !options.batch.empty()) return {};
  if (options.documentIsReference && !IsReference(options.document)) {
    return "--ref needs an http://, https://, file:// or tempfile:// reference";
  }
  if (!options.hashedXml.empty() && options.certificate.empty()) {
    return "--hashed-xml goes with --cert";
  }
  if (!options.hashServer.empty() && (!options.documentIsReference || !options.hashedXml.empty())) {
    // The server replaces a referenced document by its digest text, which B64ON would decode;
    // the client sends B64OFF then, which only the document and the hashed fragment obey.
    return "--hash-server needs --ref and cannot go with --hashed-xml";
  }
  return {};
}

}  // namespace

bool IsReference(std::string_view text) {
  for (const std::string_view scheme : {"http://", "https://", "file://", "tempfile://"}) {
    if (text.starts_with(scheme) && text.size() > scheme.size()) return true;
  }
  return false;
}

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
  std::string keyLifetime, timeout;

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
      {"--timeout", &timeout},
      {"--gethash", &options.getHash},
      {"--batch", &options.batch},
  };
  const std::pair<std::string_view, bool*> flags[] = {
      {"--ref", &options.documentIsReference},
      {"--no-crl", &options.noCrl},
      {"--no-find", &options.noFind},
      {"--json", &options.json},
      {"--help", &options.help},
      {"-h", &options.help},
      {"--version", &options.version},
      {"-0", &options.nulSeparated},
  };
  std::vector<std::string_view> known;
  for (const auto& [name, target] : valued) known.push_back(name);
  for (const auto& [name, target] : flags) known.push_back(name);

  // A usage error is reported as JSON when --json is anywhere among the options.
  for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    if (std::string_view(argv[i]) == "--json") options.json = true;
  }
  const auto refuse = [&](std::string reason) {
    return UsageError{std::move(reason), options.json};
  };

  bool onlyPositional = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    // A lone "-" is a name (standard input, for --batch).
    if (onlyPositional || !argument.starts_with('-') || argument == "-") {
      positional.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      onlyPositional = true;
      continue;
    }
    bool found = false;
    for (const auto& [name, target] : flags) {
      if (argument == name) *target = found = true;
    }
    for (const auto& [name, target] : valued) {
      if (found) break;
      if (argument == name) {
        if (i + 1 >= argc) return refuse(std::string(name) + " needs a value");
        *target = argv[++i];
        found = true;
      } else if (argument.starts_with(name) && argument.size() > name.size() &&
                 argument[name.size()] == '=') {
        *target = argument.substr(name.size() + 1);
        found = true;
      }
    }
    if (!found) {
      return refuse("unknown option " + std::string(argument) + Suggestion(argument, known));
    }
  }
  if (options.help || options.version) return options;

  if (!serverText.empty()) {
    const std::optional<ServerAddress> address = ParseServerAddress(serverText);
    if (!address) {
      return refuse("the server must be HOST, HOST:PORT, [IPv6] or [IPv6]:PORT, not " + serverText);
    }
    options.server = *address;
  }
  // The server reaches its hash server over IPv4 only.
  const std::optional<ServerAddress> hashServer = ParseServerAddress(options.hashServer);
  if (!options.hashServer.empty() &&
      (!hashServer || hashServer->host.find(':') != std::string::npos)) {
    return refuse("the hash server must be HOST or HOST:PORT, not " + options.hashServer);
  }
  if (!timeout.empty()) {
    int seconds = 0;
    if (!ReadNumber(timeout, 1, 86400, seconds)) {
      return refuse("--timeout must be a number of seconds from 1 to 86400");
    }
    options.timeout = std::chrono::seconds(seconds);
  }
  if (positional.size() == 2) {
    options.document = positional[0];
    options.signature = positional[1];
  }
  if (std::string reason = CheckCombination(options, positional.size()); !reason.empty()) {
    return refuse(std::move(reason));
  }
  if (!options.time.empty() && !IsTimeText(options.time)) {
    return refuse("--time must be YYYY-MM-DD or 'YYYY-MM-DD HH:MM:SS', from 1970 to 3000");
  }
  if (!keyLifetime.empty()) {
    int days = 0;
    if (!ReadNumber(keyLifetime, 1, 1000000, days)) {
      return refuse("--key-lifetime must be a number of days from 1");
    }
    options.keyLifetimeDays = days;
  }
  return options;
}

}  // namespace client
