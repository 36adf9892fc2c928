#include "server/tcp_server.h"

#include <ctime>
#include <stdexcept>
#include <system_error>

#include "platform/log.h"
#include "platform/socket.h"
#include "platform/thread_id.h"
#include "report/tmp_cert_arhive.h"
#include "server/check_request.h"
#include "server/connection.h"
#include "server/texts.h"

namespace server {

TCPServerThread::TCPServerThread(int index, TCPServer& server, int listenSocket)
    : server(server), index(index), listenSocket(listenSocket) {}

TCPServerThread::~TCPServerThread() {
  std::thread current;
  {
    std::lock_guard<std::mutex> lock(threadLock);
    current = std::move(thread);
  }
  if (current.joinable()) current.join();
}

void TCPServerThread::Start() {
  std::lock_guard<std::mutex> lock(threadLock);
  try {
    thread = std::thread(&TCPServerThread::Run, this);
  } catch (const std::system_error&) {
    // As for a failed restart: the slot stays empty and the others serve.
  }
}

void TCPServerThread::Run() {
  platform::UniqueFd connection = platform::AcceptConnection(listenSocket);
  if (!connection && server.stopping) return;
  const time_t started = std::time(nullptr);
  bool served = true;
  if (connection && server.RegisterConnection(connection.get())) {
    try {
      Converse(connection.get(), server.version, *server.requests);
    } catch (const std::exception&) {
      // An unexpected failure ends this connection only, without the processing-time line.
      served = false;
    }
    server.UnregisterConnection(connection.get());
    connection.reset();
  } else if (!connection) {
    // accept failed for a reason other than the stop (out of descriptors, say): pause briefly so
    // that the slot does not spin creating threads and log lines while the condition lasts.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (served && !server.stopping) {
    platform::Log(texts::kLogProcessingTime, platform::GetCurrentThreadId(),
                  static_cast<int>(std::time(nullptr) - started));
  }
  Restart();
}

void TCPServerThread::Restart() {
  std::lock_guard<std::mutex> lock(threadLock);
  if (server.stopping) return;  // the stopping host joins this thread
  try {
    std::thread next(&TCPServerThread::Run, this);
    thread.swap(next);
    next.detach();  // `next` is now this thread, which returns right after
  } catch (const std::system_error&) {
    // No thread could be created: the slot stays empty and the others keep serving.
  }
}

TCPServer::TCPServer(int port, int workerCount)
    : archive(std::make_unique<report::TmpCertArhive>()),
      requests(std::make_unique<RequestPipeline>(*archive)),
      workerCount(workerCount),
      port(port) {
  platform::ListenResult listening =
      platform::OpenListenSocket(static_cast<uint16_t>(port), workerCount);
  if (listening.failedAt == platform::ListenStep::kListen) {
    this->workerCount = 0;
    throw std::runtime_error("Cannot listen socket");
  }
  if (listening.failedAt != platform::ListenStep::kDone)
    throw std::runtime_error("Cannot bind socket");
  listenSocket = std::move(listening.fd);
  version = texts::kVersion;
  workers.reserve(workerCount);
  for (int i = 0; i < workerCount; ++i) {
    workers.push_back(std::make_unique<TCPServerThread>(i, *this, listenSocket.get()));
    workers.back()->Start();
  }
  platform::Log(texts::kLogServerStart, version.c_str());
}

TCPServer::~TCPServer() {
  BeginStop();
  workers.clear();  // each worker joins its current thread
  platform::Log("%s", texts::kLogServerStop);
}

int TCPServer::BoundPort() const { return platform::LocalPort(listenSocket.get()); }

bool TCPServer::RegisterConnection(int fd) {
  std::lock_guard<std::mutex> lock(connectionsLock);
  if (stopping) return false;
  openConnections.insert(fd);
  return true;
}

void TCPServer::UnregisterConnection(int fd) {
  std::lock_guard<std::mutex> lock(connectionsLock);
  openConnections.erase(fd);
}

void TCPServer::BeginStop() {
  std::lock_guard<std::mutex> lock(connectionsLock);
  stopping = true;
  // Shutting the listening socket down makes every pending accept return; shutting the open
  // connections down makes their receives return at once instead of after their time-out.
  platform::ShutdownSocket(listenSocket.get());
  for (const int fd : openConnections) platform::ShutdownSocket(fd);
}

}  // namespace server
