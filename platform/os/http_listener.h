#pragma once

// HttpListener serves small HTTP answers on a port of its own, on one thread of its own that
// polls all its connections, so that a slow or silent HTTP client never holds anything else up.
// The answer to each request comes from a handler that runs on that thread; it must be quick and
// must not block. Its limits bound what clients can hold: connections in all and per address,
// the time a request head may take to arrive, idle connections and the memory of each. Over
// libmicrohttpd, which only this file's implementation includes.
//
// Example:
//   HttpListenerStart started = HttpListener::Start("127.0.0.1", 9384, HttpLimits{},
//       [](std::string_view method, std::string_view path) {
//         return HttpAnswer{200, "text/plain; charset=utf-8", "ok\n"};
//       });
//   // std::get<0>(started) serves until it goes; its destructor stops and joins its thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/base/unique_fd.h"
#include "platform/os/connection_deadlines.h"

namespace platform {

// HttpLimits bound what the clients of one listener may hold.
struct HttpLimits {
  // Connections at once, in all and from one client address; one more from that address is
  // closed as soon as it is accepted, one more in all waits in the listen backlog.
  unsigned maxConnections = 32;
  unsigned maxConnectionsPerAddress = 8;
  // A request head (request line and headers) must have arrived this long after its connection
  // opened or its previous answer went out; bytes that trickle in do not extend it.
  std::chrono::milliseconds headDeadline{10000};
  // A connection that sends or takes nothing for this long is closed (whole seconds).
  std::chrono::seconds idleTimeout{10};
  // Memory of one connection for its request head and its reading; a longer head gets 431.
  size_t connectionMemory = 32 * 1024;
};

struct HttpAnswer {
  int status = 404;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
};

// HttpHandler answers one request for `path` (without the query) by `method` ("GET", "HEAD"...).
using HttpHandler = std::function<HttpAnswer(std::string_view method, std::string_view path)>;

class HttpListener;
// HttpListenerStart is a running listener, or the reason it could not start.
using HttpListenerStart = std::variant<std::unique_ptr<HttpListener>, std::string>;

class HttpListener {
 public:
  // Start listens on `address` (a literal IPv4 or IPv6 address) and `port` (0 picks one) and
  // serves every request with `handler`, within `limits`. Returns the listener, or the failed
  // step and the system's reason ("bind: Address already in use").
  static HttpListenerStart Start(const std::string& address, uint16_t port,
                                 const HttpLimits& limits, HttpHandler handler);
  // Stops accepting, ends the open connections and joins the listener's thread.
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  // BoundPort is the port it listens on.
  uint16_t BoundPort() const;

 private:
  struct Daemon;
  HttpListener(UniqueFd socket, HttpHandler handler);

  UniqueFd listenSocket;
  HttpHandler handler;
  // Stopped after the daemon, whose callbacks use it.
  std::unique_ptr<ConnectionDeadlines> deadlines;
  std::unique_ptr<Daemon> daemon;
};

}  // namespace platform
