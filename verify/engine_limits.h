#pragma once

// File: the engine's limits and what it takes from its host. The server holds these inside its
// own limits record and hands them to every engine and hash request; the defaults are the
// production values, and tests shorten the times. Header-only, so that the server can hold them
// without more than this header.
//
// Example:
//   verify::EngineContext engine;
//   engine.limits.chainFetch = std::chrono::milliseconds(200);
//   engine.clock = &clock;
//   const VerifyResult result = CCrypto(std::move(request), archive, engine).Verify();

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/os/clock.h"
#include "platform/os/inet.h"

namespace verify {

// DownloadLimits bound one document download: connecting may take `connect`, and a download whose
// body bytes average fewer than `minBytesPerSecond` a second over any stretch of `paceWindow` is
// given up. There is no limit on the whole transfer, so a large document that keeps arriving takes
// what it takes, up to the document size limit.
struct DownloadLimits {
  std::chrono::milliseconds connect{10000};
  uint64_t minBytesPerSecond = 1024;
  std::chrono::milliseconds paceWindow{20000};

  // ApplyTo writes the limits into `request`.
  void ApplyTo(platform::InternetRequest& request) const {
    request.connectTimeoutMs = static_cast<int>(connect.count());
    request.minBytesPerSecond = minBytesPerSecond;
    request.paceWindowMs = static_cast<int>(paceWindow.count());
  }
};

// EngineLimits bound what the engine and the hash-server client wait for, and how large a
// document may be.
struct EngineLimits {
  // A document larger than this is refused: downloaded, read from a file, or hashed here.
  uint64_t maxDocumentBytes = 0x80000000;
  // The hash-server client: connecting, then the whole exchange after it.
  std::chrono::milliseconds hashServerConnect{10000};
  std::chrono::milliseconds hashServerExchange{30000};
  // Downloads of documents to hash.
  DownloadLimits hashedDocument;
  // Each download of the chain engine (a CRL, an OCSP answer, an issuer certificate).
  std::chrono::milliseconds chainFetch{5000};
  // How long the certificate archive keeps a chain result after its first store, and how many
  // results it keeps at most (about 200 bytes each), the oldest going first.
  std::chrono::seconds archiveLifetime{60};
  size_t archiveEntries = 10000;
};

// EngineContext is what the host lends every engine and hash request: the limits, the calendar
// clock that the engine's decisions read (the private-key usage period, the chain's "now", the
// freshness of revocation answers), and the downloads. The clock and the downloads must outlive
// every engine that uses them. `clientGone`, when set, tells a request's document download (or
// the download of a document to hash) that its client has left, which stops it.
struct EngineContext {
  EngineLimits limits;
  const platform::Clock* clock = &platform::SystemClock();
  platform::Internet* internet = &platform::SystemInternet();
  std::function<bool()> clientGone;
};

}  // namespace verify
