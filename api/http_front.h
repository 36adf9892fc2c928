#pragma once

// File: HttpFront, the HTTP/JSON front of the server. `POST /v1/check` takes one document and
// its signature (multipart/form-data, or JSON with Base64 fields) and the options of the line
// protocol, maps them onto the request record CHECK builds, verifies with the same engine and
// certificate archive, and answers in JSON; nothing is kept between requests. `GET
// /v1/openapi.json` is the API's description. Bodies are taken on the listener's one thread as
// they arrive; verifications run on a pool of a fixed size with a bounded line, and a request
// that finds the line full, or comes while the front stops, is answered 503 with Retry-After.
//
// Example:
//   FrontSetup setup;
//   setup.listen = {"127.0.0.1", 3850};
//   FrontStart started = HttpFront::Start(setup, server->CertArchive(), server->HeldBytes());
//   if (const std::string* failure = std::get_if<std::string>(&started)) ...;
//   server->AttachFront(std::get<0>(started)->Status());
//   ...
//   std::get<0>(started)->Stop();

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <variant>

#include "api/check_body.h"
#include "platform/os/http_listener.h"
#include "platform/os/socket.h"
#include "server/front_status.h"
#include "verify/engine_limits.h"

namespace server {
class HeldBudget;
}
namespace verify {
class TmpCertArhive;
}

namespace api {

// FrontSetup is where the front listens and what bounds it.
struct FrontSetup {
  platform::ListenEndpoint listen;
  // The listener's: many keep-alive clients may come from one address (a proxy in front, say).
  platform::HttpLimits http{.maxConnections = 256,
                            .maxConnectionsPerAddress = 128,
                            .headDeadline = std::chrono::seconds(10),
                            .idleTimeout = std::chrono::seconds(10),
                            .connectionMemory = 64 * 1024,
                            .maxBodyBytes = uint64_t{2048} << 20};
  // Verifications at once, and requests that may wait for one of them.
  int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  size_t maxWaiting = 100;
  // A JSON body is held whole to be read: this much at most.
  size_t maxJsonBytes = 64 << 20;
  BodyLimits body;
  // What one verification may decode, counted in the budget the front is started with.
  size_t maxHeldBytes = size_t{128} << 20;
  // How long a stop waits for the verifications running.
  std::chrono::milliseconds stopAllowance{10000};
  // The engine's limits, clock and downloads (which must outlive the front).
  verify::EngineContext engine;
};

class HttpFront;
struct FrontState;
// FrontStart is a running front, or the line that says why it could not start.
using FrontStart = std::variant<std::unique_ptr<HttpFront>, std::string>;

class HttpFront {
 public:
  // Start listens as `setup` says and verifies with `archive`, counting what each verification
  // decodes in `heldBudget` (the line protocol's, so that the two fronts share one bound). Logs
  // where it listens, or why it cannot, at notice and error.
  static FrontStart Start(const FrontSetup& setup, std::shared_ptr<verify::TmpCertArhive> archive,
                          std::shared_ptr<server::HeldBudget> heldBudget);
  // Stops, as Stop does.
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Stop answers new requests and the waiting ones with 503, waits at most the stop allowance
  // for the verifications running, then closes the listener. Returns how many verifications were
  // still running (they end on their own). Only the first call stops.
  int Stop();

  uint16_t BoundPort() const;
  // Status is what the metrics page and /healthz report of the front; it outlives the front.
  std::shared_ptr<const server::FrontStatus> Status() const;

 private:
  explicit HttpFront(std::shared_ptr<FrontState> state);

  std::shared_ptr<FrontState> state;
  std::unique_ptr<platform::HttpListener> listener;
  int stuck = -1;  // -1 until stopped
};

}  // namespace api
