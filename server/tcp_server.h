#pragma once

// TCPServer owns the listening socket and a fixed pool of TCPServerThread workers. Every worker
// blocks in accept on the one socket, serves one connection on its own thread and then hands its
// slot to a fresh thread; at most `workerCount` connections are served at once and the rest wait
// in the listen backlog.
//
// Example:
//   try {
//     auto server = std::make_unique<TCPServer>(3847, 100);
//     ...                 // serve until asked to stop
//     server.reset();     // ends pending accepts and open connections, then joins every worker
//   } catch (const std::exception& e) { ShowError(e.what()); }  // "Cannot bind socket"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/unique_fd.h"
#include "server/session.h"

namespace report {
class TmpCertArhive;
}

namespace server {

class TCPServer;

class TCPServerThread {
 public:
  TCPServerThread(int index, TCPServer& server, int listenSocket);
  // The destructor waits for the slot's current thread; the server has ended its accept and its
  // connection before.
  virtual ~TCPServerThread();

  // Start runs the slot's first thread.
  void Start();

 private:
  // Run is the thread's entry: accept, converse, log, restart.
  void Run();
  // Restart hands the slot to a fresh thread, unless the server is stopping.
  void Restart();

  TCPServer& server;
  std::mutex threadLock;  // guards `thread` between the slot's own thread and the stopping host
  std::thread thread;
  [[maybe_unused]] int index;  // the slot's number, kept for diagnostics
  int listenSocket;
};

class TCPServer {
 public:
  // Binds 0.0.0.0:`port` (0 picks a free port), listens with backlog `workerCount` and starts the
  // workers. Throws std::runtime_error with "Cannot bind socket" or "Cannot listen socket"; no
  // worker has been started then.
  TCPServer(int port, int workerCount);
  // Stops: ends pending accepts and open connections, joins every worker, logs the stop.
  virtual ~TCPServer();

  TCPServer(const TCPServer&) = delete;
  TCPServer& operator=(const TCPServer&) = delete;

  const std::string& Version() const { return version; }
  // BoundPort is the port the server listens on.
  int BoundPort() const;
  report::TmpCertArhive& Archive() { return *archive; }

 private:
  friend class TCPServerThread;

  // RegisterConnection records an accepted socket so that a stop can end it; false when the server
  // is already stopping (the socket is shut down then).
  bool RegisterConnection(int fd);
  void UnregisterConnection(int fd);
  // BeginStop wakes every worker blocked in accept or in a receive.
  void BeginStop();

  std::string version;
  std::unique_ptr<report::TmpCertArhive> archive;
  std::unique_ptr<RequestHandler> requests;
  std::vector<std::unique_ptr<TCPServerThread>> workers;
  int workerCount;
  [[maybe_unused]] int port;  // the port asked for (0: any); BoundPort is the one in use
  platform::UniqueFd listenSocket;

  std::atomic<bool> stopping{false};
  std::mutex connectionsLock;
  std::unordered_set<int> openConnections;
};

}  // namespace server
