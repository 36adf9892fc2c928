#pragma once

// The per-connection options and data blocks that the protocol commands fill and each request
// reads. They live for one connection and are never shared with another.

#include <cstdint>
#include <string>

#include "platform/win_time.h"

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

// ConnectionData are the data blocks, stored byte for byte as received.
struct ConnectionData {
  std::string documentText;
  std::string signatureText;
  std::string certificateText;
  std::string hashedXmlText;
  bool hashedXmlGiven = false;  // set by either form of HASHEDXML, never cleared
};

}  // namespace server
