#pragma once

// The hash-server client: the digest text of a document, computed here or by a remote server
// that answers this server's own GETHASH command.
//
// Exchange on the wire (lines end with CR LF):
//   server: greeting (any non-empty text)
//   client: "GETHASH " + reference
//   server: "OK: Hash=" + digest text
//   client: "QUIT"
//   server: a closing line, read and ignored
//
// Failures leave the reason in the last error: the resolver's code, 1225 when the connection
// cannot be made (or takes more than 10 s), 30 when the greeting is empty (or does not come
// within 10 s), 5922 when GETHASH cannot be sent, 5921 when the reply does not begin with
// "OK: Hash=".

#include <cstdint>
#include <string>

namespace verify {

// Default port of a hash server, the same as this server's.
inline constexpr uint16_t kHashServerPort = 3847;

// GetHash returns the digest text of `reference`: computed here when `hashServer` is empty or
// exactly "localhost", else asked of the server `hashServer` names (host, or host:port). Empty on
// failure.
std::string GetHash(const std::string& reference, const std::string& hashServer);

// RequestHash asks the hash server at `host`:`port` (a port below 1 means 3847) for the digest
// text of `reference`, over one connection of its own. Empty on failure.
std::string RequestHash(const std::string& reference, const std::string& host, int port);

// ReadReplyLine reads one reply from `fd`: bytes up to a line feed after which no further byte is
// waiting (lines that arrive together are read as one), or up to the close. Trailing white space
// is removed.
std::string ReadReplyLine(int fd);

}  // namespace verify
