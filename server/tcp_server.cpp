#include "server/tcp_server.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/base/log.h"
#include "platform/base/mutex.h"
#include "platform/base/names.h"
#include "platform/base/thread_id.h"
#include "platform/crypto/cert_cache.h"
#include "platform/os/file_io.h"
#include "platform/os/ip_address.h"
#include "platform/os/socket.h"
#include "platform/os/state_root.h"
#include "server/check_request.h"
#include "server/connection.h"
#include "server/held_budget.h"
#include "server/operator_pages.h"
#include "server/server_metrics.h"
#include "server/server_texts.h"
#include "verify/tmp_cert_arhive.h"

namespace server {

// ServerShared is what the worker threads use of the server. Each worker holds it, so it lives
// until the server and the last worker thread have both let go of it.
struct ServerShared {
  explicit ServerShared(const ServerSetup& setup)
      : limits(setup.limits),
        proxy(setup.proxy),
        archive(std::make_shared<verify::TmpCertArhive>(
            *setup.clock, limits.engine.archiveLifetime.count(), limits.engine.archiveEntries)),
        heldBudget(std::make_shared<HeldBudget>(limits.maxHeldBytesTogether)),
        requests(*archive, *heldBudget, limits, *setup.clock, *setup.internet) {}

  const Limits limits;
  const ProxyProtocol proxy;
  std::string version;
  std::shared_ptr<verify::TmpCertArhive> archive;
  // Shared by the connections and what their requests decode, and by another front's requests.
  std::shared_ptr<HeldBudget> heldBudget;
  RequestPipeline requests;
  ServerMetrics metrics;
  // Commands and CHECKs are counted only for a metrics listener; without one they cost nothing.
  bool countRequests = false;
  int workerCount = 0;
  std::atomic<int> busyWorkers{0};  // between Admit and Leave

  platform::Mutex lock;
  platform::CondVar threadEnded;
  bool stopping GUARDED_BY(lock) = false;
  int runningThreads GUARDED_BY(lock) = 0;  // worker threads between their start and their end
  std::unordered_set<int> openConnections GUARDED_BY(lock);
  std::unordered_map<std::string, int> connectionsPerAddress GUARDED_BY(lock);  // no zeros
  std::shared_ptr<const FrontStatus> front GUARDED_BY(lock);

  bool Stopping() {
    const platform::MutexLock guard(lock);
    return stopping;
  }

  // Open registers the accepted connection `fd`, which a stop then shuts down, and counts its
  // worker busy; false when the server is stopping.
  bool Open(int fd) {
    const platform::MutexLock guard(lock);
    if (stopping) return false;
    openConnections.insert(fd);
    busyWorkers.fetch_add(1, std::memory_order_relaxed);
    return true;
  }

  // Close undoes an Open.
  void Close(int fd) {
    const platform::MutexLock guard(lock);
    openConnections.erase(fd);
    busyWorkers.fetch_sub(1, std::memory_order_relaxed);
  }

  // Admit counts a connection from the address group `group`, unless the group already has its
  // cap of connections.
  bool Admit(const std::string& group) {
    const platform::MutexLock guard(lock);
    int& open = connectionsPerAddress[group];
    if (limits.maxConnectionsPerAddress > 0 && open >= limits.maxConnectionsPerAddress) {
      if (open == 0) connectionsPerAddress.erase(group);
      return false;
    }
    ++open;
    return true;
  }

  // Leave undoes an Admit.
  void Leave(const std::string& group) {
    const platform::MutexLock guard(lock);
    const auto found = connectionsPerAddress.find(group);
    if (found != connectionsPerAddress.end() && --found->second == 0) {
      connectionsPerAddress.erase(found);
    }
  }

  PoolState Pool() {
    return {busyWorkers.load(std::memory_order_relaxed), workerCount, !Stopping()};
  }

  std::shared_ptr<const FrontStatus> Front() {
    const platform::MutexLock guard(lock);
    return front;
  }

  std::string FrontUnavailable() {
    const std::shared_ptr<const FrontStatus> other = Front();
    return other ? other->Unavailable() : std::string();
  }

  // MetricsPage renders the counters with the gauges read now.
  std::string MetricsPage() {
    MetricsGauges gauges;
    gauges.version = version;
    gauges.workersBusy = busyWorkers.load(std::memory_order_relaxed);
    gauges.workersTotal = workerCount;
    gauges.archiveHits = archive->Hits();
    gauges.archiveMisses = archive->Misses();
    const platform::CertCache& certificates = platform::CertCache::Process();
    gauges.certCacheHits = certificates.Hits();
    gauges.certCacheMisses = certificates.Misses();
    gauges.fetches = platform::RevocationFetches();
    gauges.heldBytes = heldBudget->Held();
    gauges.requestFiles = platform::RequestFilesAlive();
    gauges.process = platform::ReadProcessStats();
    std::string page = RenderMetrics(metrics, gauges);
    if (const std::shared_ptr<const FrontStatus> other = Front()) {
      platform::PrometheusText families;
      other->AppendMetrics(families);
      page += families.Text();
    }
    return page;
  }
};

// TCPServerThread is one slot of the pool: a thread that accepts, serves one connection and hands
// the slot to a fresh thread.
class TCPServerThread : public std::enable_shared_from_this<TCPServerThread> {
 public:
  TCPServerThread(std::shared_ptr<ServerShared> shared, int listenSocket);
  // The destructor lets go of the slot's thread handle; the stop has joined or released it.
  virtual ~TCPServerThread();

  // Start runs the slot's first thread.
  void Start();

 private:
  friend class TCPServer;

  // Run is the thread's entry: accept, serve, restart.
  void Run();
  // Serve identifies the client of the accepted connection `fd`, admits it under the cap of its
  // address and converses with it, logging the connection's end.
  void Serve(int fd);
  // Restart hands the slot to a fresh thread, unless the server is stopping; then the slot is
  // finished.
  void Restart();

  const std::shared_ptr<ServerShared> shared;
  std::thread thread GUARDED_BY(shared->lock);
  bool finished GUARDED_BY(shared->lock) = false;  // the slot's last thread has ended its work
  const int listenSocket;
};

namespace {

// ConnectionCloseOf is the metrics' name for how a conversation ended.
ConnectionClose ConnectionCloseOf(ConnectionEnd end) {
  switch (end) {
    case ConnectionEnd::kQuit:
      return ConnectionClose::kQuit;
    case ConnectionEnd::kClosed:
      return ConnectionClose::kPeer;
    case ConnectionEnd::kTimedOut:
      return ConnectionClose::kIdleTimeout;
    case ConnectionEnd::kOverLimit:
      return ConnectionClose::kHeldLimit;
    case ConnectionEnd::kOverLimitTogether:
      return ConnectionClose::kHeldLimitTogether;
    case ConnectionEnd::kTooSlow:
      return ConnectionClose::kSlowLine;
  }
  return ConnectionClose::kError;
}

// StartEndpoint starts an operators' endpoint with `start` when `endpoint` is set. Returns false,
// after the error line, when it could not listen.
template <class Listener, class Start>
bool StartEndpoint(const std::optional<platform::ListenEndpoint>& endpoint, const char* what,
                   Start start, std::unique_ptr<Listener>* listener, std::string* failureDetail) {
  if (!endpoint) return true;
  auto started = start(endpoint->address, endpoint->port);
  if (const std::string* failure = std::get_if<std::string>(&started)) {
    const std::string detail =
        platform::FormatText(texts::kLogEndpointFailed, what, endpoint->address.c_str(),
                             static_cast<int>(endpoint->port), failure->c_str());
    platform::LogAt(platform::LogLevel::kError, "%s", detail.c_str());
    if (failureDetail != nullptr) *failureDetail = detail;
    return false;
  }
  *listener = std::move(std::get<0>(started));
  platform::LogAt(platform::LogLevel::kNotice, texts::kLogEndpointListening, what,
                  endpoint->address.c_str(), static_cast<int>((*listener)->BoundPort()));
  return true;
}

}  // namespace

TCPServerThread::TCPServerThread(std::shared_ptr<ServerShared> serverShared, int listenFd)
    : shared(std::move(serverShared)), listenSocket(listenFd) {}

TCPServerThread::~TCPServerThread() {
  if (thread.joinable()) thread.detach();
}

void TCPServerThread::Start() {
  const platform::MutexLock guard(shared->lock);
  try {
    thread = std::thread([self = shared_from_this()] { self->Run(); });
    ++shared->runningThreads;
  } catch (const std::system_error&) {
    // As for a failed restart: the slot stays empty and the others serve.
  }
}

void TCPServerThread::Run() {
  platform::UniqueFd connection = platform::AcceptConnection(listenSocket);
  if (connection) {
    shared->metrics.CountAccepted();
    if (shared->Open(connection.get())) {
      Serve(connection.get());
      shared->Close(connection.get());
    }
    connection.reset();
  } else if (!shared->Stopping()) {
    // accept failed for a reason other than the stop (out of descriptors, say): log the line of a
    // conversation that never was, and pause briefly so that the slot does not spin creating
    // threads and log lines while the condition lasts.
    platform::Log(texts::kLogProcessingTime, platform::GetCurrentThreadId(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Restart();
}

void TCPServerThread::Serve(int fd) {
  const int threadId = platform::GetCurrentThreadId();
  const std::optional<platform::IpEndpoint> peer = platform::PeerIpEndpoint(fd);
  if (!peer) {
    shared->metrics.CountClosed(ConnectionClose::kPeer);  // gone before it was looked at
    return;
  }
  const ClientIdentity who =
      IdentifyClient(fd, *peer, shared->proxy,
                     std::chrono::steady_clock::now() + shared->limits.proxyHeaderTimeout);
  const std::string peerText = platform::EndpointText(*peer);
  if (who.refusal != ClientRefusal::kNone) {
    // Closed before the greeting; the slot restarts at once for the next client.
    shared->metrics.CountClosed(ConnectionClose::kProxyHeader);
    const char* format = who.refusal == ClientRefusal::kNotABalancer ? texts::kLogNotABalancer
                         : who.refusal == ClientRefusal::kBadHeader  ? texts::kLogBadProxyHeader
                         : who.refusal == ClientRefusal::kSlowHeader ? texts::kLogSlowProxyHeader
                                                                     : texts::kLogProxyHeaderCut;
    platform::LogAt(platform::LogLevel::kError, format, threadId, peerText.c_str(),
                    static_cast<long long>(shared->limits.proxyHeaderTimeout.count()));
    return;
  }
  const std::string client = platform::EndpointText(who.client);
  if (who.relayed) {
    platform::Log(texts::kLogRelayedClient, threadId, client.c_str(), peerText.c_str());
  }
  const std::string group = AddressGroup(who.client.address);
  if (!shared->Admit(group)) {
    shared->metrics.CountClosed(ConnectionClose::kAddressLimit);
    platform::LogAt(platform::LogLevel::kError, texts::kLogAddressOverLimit, threadId,
                    platform::IpAddressText(who.client.address).c_str(), group.c_str(),
                    shared->limits.maxConnectionsPerAddress);
    return;
  }
  // Answers go out in one send each; waiting to fill a segment would only delay them.
  platform::SetNoDelay(fd);
  const time_t started = std::time(nullptr);
  bool served = true;
  try {
    shared->metrics.CountClosed(ConnectionCloseOf(
        Converse(fd, shared->version, shared->requests, shared->limits, *shared->heldBudget,
                 shared->countRequests ? &shared->metrics : nullptr, client)));
  } catch (const std::exception&) {
    // An unexpected failure ends this connection only, without the processing-time line.
    shared->metrics.CountClosed(ConnectionClose::kError);
    served = false;
  }
  shared->Leave(group);
  if (served) {
    platform::Log(texts::kLogProcessingTime, threadId,
                  static_cast<int>(std::time(nullptr) - started));
  }
}

void TCPServerThread::Restart() {
  const platform::MutexLock guard(shared->lock);
  if (shared->stopping) {
    finished = true;  // the stopping host joins this thread
  } else {
    try {
      std::thread next([self = shared_from_this()] { self->Run(); });
      ++shared->runningThreads;
      thread.swap(next);
      next.detach();  // `next` is now this thread, which returns right after
    } catch (const std::system_error&) {
      // No thread could be created: the slot stays empty and the others keep serving. This
      // thread is the slot's last; the stop joins it.
      finished = true;
    }
  }
  --shared->runningThreads;
  shared->threadEnded.NotifyAll();
}

ServerStart TCPServer::Start(int port, int workerCount, const ServerSetup& setup) {
  // The archive comes first, as the server's construction makes it before it binds.
  auto shared = std::make_shared<ServerShared>(setup);
  platform::ListenResult listening =
      platform::OpenListenSocket(setup.listenAddress, static_cast<uint16_t>(port), workerCount);
  if (listening.failedAt != platform::ListenStep::kDone) {
    const bool listenFailed = listening.failedAt == platform::ListenStep::kListen;
    const std::string detail =
        platform::FormatText(texts::kLogListenFailed, listenFailed ? "listen on" : "bind",
                             setup.listenAddress.c_str(), port, listening.reason.c_str());
    platform::LogAt(platform::LogLevel::kError, "%s", detail.c_str());
    if (setup.failureDetail != nullptr) *setup.failureDetail = detail;
    return std::string(listenFailed ? "Cannot listen socket" : "Cannot bind socket");
  }
  shared->workerCount = workerCount;
  shared->countRequests = setup.metricsListen.has_value();
  shared->version = platform::kVersion;
  // The endpoints' threads use the shared state only while they run; the stop ends them first.
  std::unique_ptr<platform::HttpListener> metricsListener;
  std::unique_ptr<platform::TextResponder> agentResponder;
  ServerShared* state = shared.get();
  const auto startHttp = [state](const std::string& address, uint16_t endpointPort) {
    return platform::HttpListener::Start(address, endpointPort, state->limits.operatorPages,
                                         [state](std::string_view method, std::string_view path) {
                                           return OperatorPage(
                                               method, path, state->Pool(),
                                               [state] { return state->MetricsPage(); },
                                               [state] { return state->FrontUnavailable(); });
                                         });
  };
  const auto startAgent = [state](const std::string& address, uint16_t endpointPort) {
    return platform::TextResponder::Start(address, endpointPort,
                                          [state] { return AgentAnswer(state->Pool()); });
  };
  if (!StartEndpoint(setup.metricsListen, "metrics", startHttp, &metricsListener,
                     setup.failureDetail) ||
      !StartEndpoint(setup.agentListen, "agent check", startAgent, &agentResponder,
                     setup.failureDetail)) {
    return std::string("Cannot bind socket");
  }
  return std::unique_ptr<TCPServer>(new TCPServer(std::move(shared), std::move(listening.fd),
                                                  workerCount, setup, std::move(metricsListener),
                                                  std::move(agentResponder)));
}

TCPServer::TCPServer(std::shared_ptr<ServerShared> serverShared, platform::UniqueFd socket,
                     int poolSize, const ServerSetup& setup,
                     std::unique_ptr<platform::HttpListener> metrics,
                     std::unique_ptr<platform::TextResponder> agent)
    : shared(std::move(serverShared)),
      workerCount(poolSize),
      stopAllowance(setup.limits.stopAllowance),
      listenSocket(std::move(socket)),
      metricsListener(std::move(metrics)),
      agentResponder(std::move(agent)) {
  workers.reserve(workerCount);
  for (int i = 0; i < workerCount; ++i) {
    workers.push_back(std::make_shared<TCPServerThread>(shared, listenSocket.get()));
    workers.back()->Start();
  }
  platform::LogAt(platform::LogLevel::kNotice, texts::kLogServerStart, shared->version.c_str());
  platform::LogAt(platform::LogLevel::kNotice, texts::kLogListening, setup.listenAddress.c_str(),
                  BoundPort(), platform::StateRoot().c_str(),
                  std::string(platform::LogLevelName(platform::CurrentLogLevel())).c_str());
  std::string proxy = setup.proxy.on ? "headers from" : "off";
  for (size_t i = 0; setup.proxy.on && i < setup.proxy.from.size(); ++i) {
    proxy += (i == 0 ? " " : ", ") + platform::IpNetworkText(setup.proxy.from[i]);
  }
  platform::LogAt(platform::LogLevel::kNotice, texts::kLogClientRules,
                  setup.limits.maxConnectionsPerAddress, proxy.c_str());
}

TCPServer::~TCPServer() { Stop(); }

int TCPServer::Stop() {
  if (stopped) return stuckWorkers;
  stopped = true;
  BeginStop();
  // The endpoints join their threads here; a scrape in progress is answered first.
  metricsListener.reset();
  agentResponder.reset();
  // One deadline for the whole pool: the waits never add up.
  std::vector<std::thread> ended;
  {
    const platform::MutexLock guard(shared->lock);
    shared->threadEnded.WaitFor(shared->lock, stopAllowance, [this]() REQUIRES(shared->lock) {
      return shared->runningThreads == 0;
    });
    for (const std::shared_ptr<TCPServerThread>& worker : workers) {
      worker->shared->lock.AssertHeld();  // every worker shares this server's state
      if (!worker->thread.joinable()) continue;
      if (worker->finished) {
        ended.push_back(std::move(worker->thread));
      } else {
        worker->thread.detach();  // still busy; it keeps what it uses alive
        ++stuckWorkers;
      }
    }
  }
  for (std::thread& thread : ended) thread.join();
  if (stuckWorkers > 0) {
    platform::LogAt(platform::LogLevel::kError, texts::kLogWorkersStillBusy, stuckWorkers,
                    static_cast<int>(stopAllowance.count()));
  }
  platform::LogAt(platform::LogLevel::kNotice, "%s", texts::kLogServerStop);
  workers.clear();
  return stuckWorkers;
}

int TCPServer::BoundPort() const { return platform::LocalPort(listenSocket.get()); }

int TCPServer::MetricsPort() const { return metricsListener ? metricsListener->BoundPort() : 0; }

int TCPServer::AgentPort() const { return agentResponder ? agentResponder->BoundPort() : 0; }

std::shared_ptr<verify::TmpCertArhive> TCPServer::CertArchive() const { return shared->archive; }

std::shared_ptr<HeldBudget> TCPServer::HeldBytes() const {
  // The budget alone: a front that held the whole state would keep it alive through the status
  // that the state keeps of the front.
  return shared->heldBudget;
}

void TCPServer::AttachFront(std::shared_ptr<const FrontStatus> front) {
  const platform::MutexLock guard(shared->lock);
  shared->front = std::move(front);
}

void TCPServer::BeginStop() {
  const platform::MutexLock guard(shared->lock);
  shared->stopping = true;
  // Shutting the listening socket down makes every pending accept return; shutting the open
  // connections down makes their receives return at once instead of after their time-out.
  platform::ShutdownSocket(listenSocket.get());
  for (const int fd : shared->openConnections) platform::ShutdownSocket(fd);
}

}  // namespace server
