#pragma once

// File: the protocol's commands by name. Command names each command the way the metrics count
// it; the session's table of command rows (server/session_commands.cpp) matches received lines to
// these names, so dispatch and counting read the same table.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace server {

enum class Command : uint8_t {
  kAddTs,
  kB64Off,
  kB64On,
  kCert,
  kCheck,
  kCrlOff,
  kCrlOn,
  kExit,
  kFindOff,
  kFindOn,
  kGetHash,
  kHashedXml,
  kHashServer,
  kHtmlOff,
  kHtmlOn,
  kMd5Off,
  kMd5On,
  kNoHashServer,
  kOid,
  kQuit,
  kSign,
  kSkLifetime,
  kStrs,
  kTime,
  kUploadService,
  kOther,  // any line outside a block that no row matches
};

inline constexpr size_t kCommandCount = static_cast<size_t>(Command::kOther) + 1;

// kCommandNames are the commands' names on the wire, by Command; the last, "other", is no
// command's.
inline constexpr std::array<std::string_view, kCommandCount> kCommandNames = {
    "ADD TS",     "B64OFF",  "B64ON",  "CERT",          "CHECK",     "CRLOFF",     "CRLON",
    "EXIT",       "FINDOFF", "FINDON", "GETHASH",       "HASHEDXML", "HASHSERVER", "HTMLOFF",
    "HTMLON",     "MD5OFF",  "MD5ON",  "NOHASHSERVER",  "OID",       "QUIT",       "SIGN",
    "SKLIFETIME", "STRS",    "TIME",   "UPLOADSERVICE", "other"};

inline std::string_view CommandName(Command command) {
  return kCommandNames[static_cast<size_t>(command)];
}

// CommandMatch is how a row's name meets a line: the whole line; the name, a blank and an
// argument (possibly empty); or the line's start, whatever follows.
enum class CommandMatch : uint8_t { kExact, kArgument, kPrefix };

}  // namespace server
