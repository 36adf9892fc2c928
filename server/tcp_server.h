#pragma once

// TCPServer owns the listening socket and a fixed pool of TCPServerThread workers. Every worker
// blocks in accept on the one socket, serves one connection on its own thread and then hands its
// slot to a fresh thread; at most `workerCount` connections are served at once and the rest wait
// in the listen backlog.
//
// The stop wakes every worker waiting in accept or in a receive and gives the pool its stop
// allowance (10 s in production) in all to end. A worker still busy then (inside a download from a
// peer that never answers, say) is left to finish on its own: what it uses (the request pipeline,
// the archive) lives in state that the worker itself keeps alive, so the server object can go
// while it runs.
//
// Why a thread per connection, and not an event loop per core: a CHECK blocks its connection for
// as long as its work takes, and that work is blocking by nature (a detached signature over a
// 2 GiB file, a chain whose CRLs and OCSP answers are fetched from slow peers, a document
// downloaded for the client): seconds, not microseconds. On a loop, one such CHECK would stall
// every connection the loop serves, and each blocking step would have to be split into
// callbacks or moved to a pool anyway. A connection that waits costs its thread's stack and
// nothing else, so the pool is sized by connections (100, the number of clients the protocol
// expects at once) rather than by cores; the kernel's listen backlog queues the rest, and the
// per-address cap keeps one client from taking them all. The stop has one deadline for the whole
// pool so that a stuck download cannot make a service stop wait for more than its allowance.
//
// Example:
//   ServerStart started = TCPServer::Start(3847, 100, ServerSetup{});
//   if (const std::string* failure = std::get_if<std::string>(&started)) {
//     ShowError(*failure);  // "Cannot bind socket"
//   } else {
//     std::unique_ptr<TCPServer>& server = std::get<0>(started);
//     ...                                      // serve until asked to stop
//     const int stuck = server->Stop();        // at most about the stop allowance
//   }

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/os/clock.h"
#include "platform/os/http_listener.h"
#include "platform/os/inet.h"
#include "platform/os/socket.h"
#include "platform/os/text_responder.h"
#include "server/client_address.h"
#include "server/front_status.h"
#include "server/held_budget.h"
#include "server/server_limits.h"

namespace verify {
class TmpCertArhive;
}

namespace server {

// ServerSetup is what the host hands the server beside its port and pool size: where to listen,
// the limits, the calendar clock that decisions read, and the downloads. The clock and the
// downloads must outlive the server and every worker it leaves behind; the defaults are the real
// ones. A connection over `limits.maxConnectionsPerAddress` from its client's address (as
// AddressGroup counts them) is closed right after accept, without a greeting, and its worker
// takes the next one. Behind a balancer every connection comes from the balancer's address,
// unless `proxy` is on: then each must begin with a PROXY header from a listed balancer, which
// names the client that the cap, the log and the request lines see. The operators' endpoints are
// opt-in: with `metricsListen` an HTTP listener serves /metrics and /healthz there, with
// `agentListen` a port answers a load balancer's agent check with the share of free workers; each
// on a thread of its own.
struct ServerSetup {
  std::string listenAddress = "0.0.0.0";  // a literal IPv4 or IPv6 address
  std::optional<platform::ListenEndpoint> metricsListen;
  std::optional<platform::ListenEndpoint> agentListen;
  ProxyProtocol proxy;
  Limits limits;
  const platform::Clock* clock = &platform::SystemClock();
  platform::Internet* internet = &platform::SystemInternet();
  // When set, a failed start writes here what failed and the system's reason ("bind 0.0.0.0 port
  // 3847: Address already in use"), for a service manager's status line.
  std::string* failureDetail = nullptr;
};

struct ServerShared;
class TCPServerThread;
class TCPServer;

// ServerStart is a running server, or the failure text the host shows.
using ServerStart = std::variant<std::unique_ptr<TCPServer>, std::string>;

class TCPServer {
 public:
  // Start makes the certificate archive, binds the setup's listen address and `port` (0 picks a
  // free port), listens with backlog `workerCount`, starts the operators' endpoints `setup` asks
  // for and the workers, which serve as `setup` says; it logs the start and a notice of where it
  // listens. Returns the running server, or "Cannot bind socket" or "Cannot listen socket" after
  // an error line with the system's reason (for an endpoint too); no worker has been started
  // then, and the archive is gone again.
  static ServerStart Start(int port, int workerCount, const ServerSetup& setup = {});
  // Stops, as Stop does.
  virtual ~TCPServer();

  TCPServer(const TCPServer&) = delete;
  TCPServer& operator=(const TCPServer&) = delete;

  // Stop ends pending accepts and open connections, waits for the workers at most the stop
  // allowance in all, and logs the stop. Returns the number of workers still busy after that
  // (they end on their own; the caller should not tear down libraries they may use). Only the
  // first call stops; later ones return the same number.
  int Stop();

  // BoundPort is the port the server listens on.
  int BoundPort() const;
  // MetricsPort and AgentPort are the ports of the operators' endpoints; 0 for one not asked for.
  int MetricsPort() const;
  int AgentPort() const;

  // CertArchive is the server's certificate archive, for another front that verifies with the
  // same engine; it lives as long as its last holder.
  std::shared_ptr<verify::TmpCertArhive> CertArchive() const;
  // HeldBytes is the budget of what the connections hold and their requests decode, for another
  // front's verifications to count in; it lives as long as its last holder.
  std::shared_ptr<HeldBudget> HeldBytes() const;
  // AttachFront makes the metrics page and /healthz report `front` beside the workers.
  void AttachFront(std::shared_ptr<const FrontStatus> front);

 private:
  TCPServer(std::shared_ptr<ServerShared> shared, platform::UniqueFd listenSocket, int workerCount,
            const ServerSetup& setup, std::unique_ptr<platform::HttpListener> metricsListener,
            std::unique_ptr<platform::TextResponder> agentResponder);
  // BeginStop wakes every worker blocked in accept or in a receive.
  void BeginStop();

  std::shared_ptr<ServerShared> shared;
  std::vector<std::shared_ptr<TCPServerThread>> workers;
  int workerCount;
  std::chrono::milliseconds stopAllowance;
  platform::UniqueFd listenSocket;
  // Their threads read `shared`; they stop first.
  std::unique_ptr<platform::HttpListener> metricsListener;
  std::unique_ptr<platform::TextResponder> agentResponder;
  bool stopped = false;
  int stuckWorkers = 0;
};

}  // namespace server
