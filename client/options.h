#pragma once

// The command line of quilmarend-check: what to verify, the settings to send before CHECK, and
// where the server is.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace client {

inline constexpr int kDefaultPort = 3847;
inline constexpr std::chrono::seconds kDefaultTimeout{30};

struct ServerAddress {
  std::string host = "127.0.0.1";  // a name, an IPv4 address or an IPv6 address without brackets
  int port = kDefaultPort;

  // Text is "HOST:PORT", or "[IPv6]:PORT" for an IPv6 address.
  std::string Text() const;
};

struct Options {
  // What to verify: DOCUMENT and SIGNATURE, the pairs of a batch, or a reference to hash.
  std::string document;   // a file, or with `documentIsReference` the text sent as is
  std::string signature;  // a file; with an upload service, a name in the service when no file
  bool documentIsReference = false;
  std::string certificate;    // --cert FILE: `signature` is a bare signature value
  std::string hashedXml;      // --hashed-xml FILE
  std::string getHash;        // --gethash REFERENCE
  std::string batch;          // --batch FILE, "-" for standard input
  bool nulSeparated = false;  // -0: the batch's names end in NUL bytes, taken in pairs

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
  std::chrono::seconds timeout = kDefaultTimeout;  // for the connection and for each answer
  bool json = false;
  bool help = false;
  bool version = false;
};

// UsageError is a command line that cannot be run, with the reason; `json` tells whether it asked
// for --json all the same, so that the reason can be given as JSON.
struct UsageError {
  std::string reason;
  bool json = false;
};

// ParseServerAddress reads "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT"; nullopt when the host
// is empty, holds a colon outside brackets or is no IPv6 address inside them, or the port is not
// 1..65535.
std::optional<ServerAddress> ParseServerAddress(const std::string& text);

// IsReference is true for a document reference --ref takes: http://, https://, file:// or
// tempfile:// and something after it.
bool IsReference(std::string_view text);

// ParseOptions reads argv. `environmentServer` is QUILMAREND_SERVER (null when unset), used when
// --server is not given.
std::variant<Options, UsageError> ParseOptions(int argc, const char* const* argv,
                                               const char* environmentServer);

// kUsage is the help text, printed with --help; kUsageHint follows a usage error.
extern const char* const kUsage;
extern const char* const kUsageHint;

}  // namespace client
