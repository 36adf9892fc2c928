#pragma once

// The command line of quilmarend-check: what to verify, the settings to send before CHECK, and
// where the server is.

#include <optional>
#include <string>
#include <variant>

namespace client {

inline constexpr int kDefaultPort = 3847;

struct ServerAddress {
  std::string host = "127.0.0.1";  // a name, an IPv4 address or an IPv6 address without brackets
  int port = kDefaultPort;

  // Text is "HOST:PORT", or "[IPv6]:PORT" for an IPv6 address.
  std::string Text() const;
};

struct Options {
  // What to verify: DOCUMENT and SIGNATURE, or a reference to hash with --gethash.
  std::string document;   // a file, or with `documentIsReference` the text sent as is
  std::string signature;  // a file; with an upload service, a name in the service when no file
  bool documentIsReference = false;
  std::string certificate;  // --cert FILE: `signature` is a bare signature value
  std::string hashedXml;    // --hashed-xml FILE
  std::string getHash;      // --gethash REFERENCE

  // Settings commands, sent before CHECK when given.
  std::string time;                    // TIME
  bool noCrl = false;                  // CRLOFF
  bool noFind = false;                 // FINDOFF
  std::optional<int> keyLifetimeDays;  // SKLIFETIME
  std::string oid;                     // OID
  std::string uploadService;           // UPLOADSERVICE
  std::string hashServer;              // HASHSERVER
  std::string htmlFile;                // HTMLON; the page is written here

  ServerAddress server;
  bool json = false;
  bool help = false;
};

// UsageError is a command line that cannot be run, with the reason.
struct UsageError {
  std::string reason;
};

// ParseServerAddress reads "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT"; nullopt when the host
// is empty, holds a colon outside brackets or is no IPv6 address inside them, or the port is not
// 1..65535.
std::optional<ServerAddress> ParseServerAddress(const std::string& text);

// ParseOptions reads argv. `environmentServer` is QUILMAREND_SERVER (null when unset), used when
// --server is not given.
std::variant<Options, UsageError> ParseOptions(int argc, const char* const* argv,
                                               const char* environmentServer);

// kUsage is the synopsis printed with --help and after a usage error.
extern const char* const kUsage;

}  // namespace client
