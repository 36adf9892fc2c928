#include <microhttpd.h>

#include <system_error>
#include <utility>

#include "platform/os/http_listener.h"
#include "platform/os/socket.h"

namespace platform {
namespace {

// The listener's state that libmicrohttpd's callbacks reach.
struct Callbacks {
  const HttpHandler* handler;
  ConnectionDeadlines* deadlines;
};

MHD_Result Answer(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, size_t* uploadSize,
                  void** /*requestContext*/) {
  const Callbacks& callbacks = *static_cast<const Callbacks*>(context);
  // The head is complete: from here the idle time-out alone bounds the connection.
  callbacks.deadlines->Disarm(connection);
  // A request body is neither read nor wanted; what arrived of it is dropped.
  *uploadSize = 0;
  const HttpAnswer answer = (*callbacks.handler)(method, url);
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

void RequestEnded(void* context, MHD_Connection* connection, void** /*requestContext*/,
                  MHD_RequestTerminationCode /*code*/) {
  // The next request's head is due within the allowance from now.
  static_cast<const Callbacks*>(context)->deadlines->Arm(connection);
}

void ConnectionChanged(void* context, MHD_Connection* connection, void** /*socketContext*/,
                       MHD_ConnectionNotificationCode change) {
  ConnectionDeadlines& deadlines = *static_cast<const Callbacks*>(context)->deadlines;
  if (change == MHD_CONNECTION_NOTIFY_CLOSED) {
    // libmicrohttpd closes the socket only after this call.
    deadlines.Closed(connection);
    return;
  }
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info != nullptr) deadlines.Opened(connection, info->connect_fd);
}

}  // namespace

struct HttpListener::Daemon {
  // Stop stops the daemon and joins its thread. Returns false when the daemon closed the
  // listening socket itself; quiescing first hands it back, so that normally the listener's
  // UniqueFd alone closes it.
  bool Stop() {
    const MHD_socket returned = MHD_quiesce_daemon(daemon);
    MHD_stop_daemon(daemon);
    return returned != MHD_INVALID_SOCKET;
  }
  MHD_Daemon* daemon;
  Callbacks callbacks;
};

HttpListenerStart HttpListener::Start(const std::string& address, uint16_t port,
                                      const HttpLimits& limits, HttpHandler handler) {
  ListenResult listening = OpenListenSocket(address, port, static_cast<int>(limits.maxConnections));
  if (listening.failedAt != ListenStep::kDone) {
    const char* step = listening.failedAt == ListenStep::kListen ? "listen" : "bind";
    return std::string(step) + ": " + listening.reason;
  }
  std::unique_ptr<HttpListener> listener(
      new HttpListener(std::move(listening.fd), std::move(handler)));
  try {
    listener->deadlines = std::make_unique<ConnectionDeadlines>(limits.headDeadline);
  } catch (const std::system_error& error) {
    return std::string("thread: ") + error.what();
  }
  auto daemon = std::make_unique<Daemon>();
  daemon->callbacks = Callbacks{&listener->handler, listener->deadlines.get()};
  void* callbacks = &daemon->callbacks;
  daemon->daemon = MHD_start_daemon(
      MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ITC, 0, nullptr, nullptr, &Answer, callbacks,
      MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(listener->listenSocket.get()),
      MHD_OPTION_CONNECTION_LIMIT, limits.maxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      limits.maxConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(limits.idleTimeout.count()), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      limits.connectionMemory, MHD_OPTION_NOTIFY_COMPLETED, &RequestEnded, callbacks,
      MHD_OPTION_NOTIFY_CONNECTION, &ConnectionChanged, callbacks, MHD_OPTION_END);
  if (daemon->daemon == nullptr) return std::string("the HTTP daemon did not start");
  listener->daemon = std::move(daemon);
  return listener;
}

HttpListener::HttpListener(UniqueFd socket, HttpHandler requestHandler)
    : listenSocket(std::move(socket)), handler(std::move(requestHandler)) {}

HttpListener::~HttpListener() {
  if (daemon != nullptr && !daemon->Stop()) (void)listenSocket.release();
}

uint16_t HttpListener::BoundPort() const { return LocalPort(listenSocket.get()); }

}  // namespace platform
