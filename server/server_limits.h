#pragma once

// File: Limits, the one record of the server's limits: what a connection may hold and how long
// it may keep a worker waiting, how long a stop waits for the workers, how many connections one
// address may have, and what a request may fetch and wait for, the engine's limits included. The
// host makes it once and hands it to the server, which hands each part to the code that waits;
// nothing waits on a literal. The defaults are the production values; tests shorten the times.
//
// Example:
//   server::Limits limits;  // the defaults; the host sets the ones the settings give
//   limits.stopAllowance = std::chrono::milliseconds(100);  // a test's
//   server::TCPServer server(0, 2, {.limits = limits});

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/os/http_listener.h"
#include "verify/engine_limits.h"

namespace server {

struct Limits {
  // Each send and each wait for the next received byte of a connection.
  std::chrono::milliseconds connectionTimeout{10000};
  // At most this much memory per connection for its data blocks (finished or open) and the buffer
  // that holds its unfinished line, counted as allocated, not as the bytes in them.
  size_t maxHeldBytes = size_t{128} << 20;
  // The same for all connections of the server together.
  uint64_t maxHeldBytesTogether = uint64_t{2048} << 20;
  // An unfinished line that has been arriving this long at under `minLineRate` bytes per second on
  // average ends its connection: the receive time-out alone restarts at every byte, so a peer that
  // trickles could otherwise hold a worker for ever. A `minLineRate` of 0 asks no pace.
  std::chrono::milliseconds slowLineAllowance{30000};
  size_t minLineRate = 64 * 1024;

  // How long a stop waits, in all, for the workers to end.
  std::chrono::milliseconds stopAllowance{10000};
  // At most this many connections are served at once from one client address, as AddressGroup
  // counts addresses; 0: no cap. 16 of the 100 workers: one address (one host, one local user)
  // cannot hold more than a sixth of the pool, while a client application keeps a pool of
  // connections of its own.
  int maxConnectionsPerAddress = 16;
  // With the PROXY protocol on, a balancer's header must have come whole within this time after
  // the accept.
  std::chrono::milliseconds proxyHeaderTimeout{5000};
  // The metrics listener's: a scraper and a balancer's health check or two send their request at
  // once, so a head still unfinished after 5 s is a client holding a connection for nothing.
  platform::HttpLimits operatorPages{.maxConnections = 32,
                                     .maxConnectionsPerAddress = 8,
                                     .headDeadline = std::chrono::milliseconds(5000)};

  // A document canonicalized as XML (a signed text with a hashed fragment), which is parsed in
  // memory, larger than this is refused; every other document has `engine.maxDocumentBytes`.
  uint64_t maxXmlDocumentBytes = uint64_t{64} << 20;
  // Downloads of documents given by URL.
  verify::DownloadLimits download;
  // The engine's and the hash-server client's, and the size limit of every document
  // (`engine.maxDocumentBytes`: downloaded, read from a file, or hashed here).
  verify::EngineLimits engine;
};

}  // namespace server
