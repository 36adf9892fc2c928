#include <microhttpd.h>

#include <utility>

#include "platform/os/http_listener.h"
#include "platform/os/socket.h"

namespace platform {
namespace {

// Operators' tools scrape from a handful of places; more than this at once is a fault somewhere.
constexpr unsigned kMaxConnections = 32;
// An idle HTTP connection is closed after this many seconds.
constexpr unsigned kIdleSeconds = 10;

MHD_Result Answer(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, size_t* uploadSize,
                  void** /*requestContext*/) {
  // A request body is neither read nor wanted; what arrived of it is dropped.
  *uploadSize = 0;
  const HttpHandler& handler = *static_cast<const HttpHandler*>(context);
  const HttpAnswer answer = handler(method, url);
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
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
};

HttpListenerStart HttpListener::Start(const std::string& address, uint16_t port,
                                      HttpHandler handler) {
  ListenResult listening = OpenListenSocket(address, port, static_cast<int>(kMaxConnections));
  if (listening.failedAt != ListenStep::kDone) {
    const char* step = listening.failedAt == ListenStep::kListen ? "listen" : "bind";
    return std::string(step) + ": " + listening.reason;
  }
  std::unique_ptr<HttpListener> listener(
      new HttpListener(std::move(listening.fd), std::move(handler)));
  MHD_Daemon* daemon = MHD_start_daemon(
      MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ITC, 0, nullptr, nullptr, &Answer, &listener->handler,
      MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(listener->listenSocket.get()),
      MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
      MHD_OPTION_END);
  if (daemon == nullptr) return std::string("the HTTP daemon did not start");
  listener->daemon.reset(new Daemon{daemon});
  return listener;
}

HttpListener::HttpListener(UniqueFd socket, HttpHandler requestHandler)
    : listenSocket(std::move(socket)), handler(std::move(requestHandler)) {}

HttpListener::~HttpListener() {
  if (daemon != nullptr && !daemon->Stop()) (void)listenSocket.release();
}

uint16_t HttpListener::BoundPort() const { return LocalPort(listenSocket.get()); }

}  // namespace platform
