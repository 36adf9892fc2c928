#pragma once

// The per-connection options and data blocks that the protocol commands fill and each request
// reads. They live for one connection and are never shared with another.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/win_time.h"

namespace server {

// ConnectionSettings are the options for the next verification, with their protocol defaults.
struct ConnectionSettings {
  bool decodeBase64 = false;        // B64ON/B64OFF: document and hashed XML are Base64
  bool findCertificate = true;      // FINDON/FINDOFF
  bool checkRevocation = true;      // CRLON/CRLOFF
  bool htmlReport = false;          // HTMLON/HTMLOFF
  std::string hashServer;           // "" none, "localhost" here, or host[:port]
  std::string uploadService;        // "" none
  std::string oidList;              // extended-key-usage filter, "" none
  int32_t keyLifetimeDays = -1;     // negative: no private-key usage period check
  platform::SystemTime verifyTime;  // local calendar time; year 0 = now
};

// DecodedBlocks are the decoded forms of the connection's blocks as the last CHECK made them, so
// that CHECKs repeated over the same blocks do not decode them again. Only small blocks are kept
// (see kKeptDecodedBytes); `revision` is the blocks' revision they were made from.
struct DecodedBlocks {
  uint64_t revision = UINT64_MAX;
  bool documentBase64 = false;
  std::optional<std::vector<uint8_t>> document, signature, certificate;
};

// ConnectionData are the data blocks, stored byte for byte as received.
struct ConnectionData {
  std::string documentText;
  std::string signatureText;
  std::string certificateText;
  std::string hashedXmlText;
  bool hashedXmlGiven = false;  // set by either form of HASHEDXML, never cleared
  // Revision goes up whenever a block's text changes; whoever changes one bumps it.
  uint64_t revision = 0;
  DecodedBlocks decoded;
};

// HeldBytes is the memory `data` takes beyond its own record: what is allocated for its texts
// and the decoded forms it keeps.
size_t HeldBytes(const ConnectionData& data);

}  // namespace server
