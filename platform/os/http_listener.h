#pragma once

// HttpListener serves HTTP on a port of its own, on one thread of its own that polls all its
// connections, so that a slow or silent HTTP client never holds anything else up. Its limits
// bound what clients can hold: connections in all and per address, the time a request head may
// take to arrive, idle connections, the memory of each and the size of a body. Over
// libmicrohttpd, which only this file's implementation includes.
//
// Two ways to answer. A handler answers each request from its method and path at once, on the
// listener's thread (small pages: metrics, health). A service sees each request head and either
// answers at once or returns an exchange, which takes the body piece by piece as it arrives (a
// multipart/form-data body split into its fields) and answers when it has all of it, then or
// later from any thread; the connection waits meanwhile without holding the listener's thread.
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
#include <utility>
#include <variant>
#include <vector>

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
  // A request body that grows past this, whether taken or skipped, closes its connection at once
  // without an answer (nothing can be answered before a body ends).
  uint64_t maxBodyBytes = 0;
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpAnswer {
  int status = 404;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  HttpHeaders headers;  // more headers: Allow, Retry-After...
};

// HttpRequest is the head of one request.
struct HttpRequest {
  std::string method;
  std::string path;  // without the query
  std::string peer;  // "192.0.2.7:51234", "[2001:db8::7]:51234"
  HttpHeaders headers;
  // Header returns the value of the first header named `name` (in any case), or null.
  const std::string* Header(std::string_view name) const;
};

// HttpHandler answers one request for `path` (without the query) by `method` ("GET", "HEAD"...).
using HttpHandler = std::function<HttpAnswer(std::string_view method, std::string_view path)>;

// HttpBodyEnd is how a body taken by an exchange ended.
enum class HttpBodyEnd {
  kComplete,
  kSkipped,    // the exchange refused a piece; the rest was read and dropped
  kMalformed,  // a multipart/form-data body that does not parse, or ends before its last boundary
};

struct HttpPendingReply;

// HttpReply answers one request whose body an exchange took. Send may be called once, from any
// thread; later calls, and calls after the listener has gone (which answers what is still
// waiting with a plain 503), do nothing.
class HttpReply {
 public:
  HttpReply() = default;  // answers nothing
  explicit HttpReply(std::shared_ptr<HttpPendingReply> waiting) : pending(std::move(waiting)) {}
  void Send(HttpAnswer answer) const;

 private:
  std::shared_ptr<HttpPendingReply> pending;
};

// HttpExchange takes the body of one request and answers it. It is called on the listener's
// thread: it must be quick and must not block.
class HttpExchange {
 public:
  virtual ~HttpExchange() = default;
  // Take receives the next `piece` of the body, which begins `offset` bytes into its field. For a
  // multipart/form-data body `field` names the form field, and each field starts at offset 0 (a
  // name given twice starts twice); for any other body `field` is empty. Returns false to refuse
  // the rest: it is read and dropped, and Finish says kSkipped.
  virtual bool Take(std::string_view field, uint64_t offset, std::string_view piece) = 0;
  // Finish is called once the body has ended as `end` says; the exchange answers with `reply`.
  virtual void Finish(HttpBodyEnd end, HttpReply reply) = 0;
};

// HttpBegun is a service's decision on a request head: its answer, or the exchange for its body.
using HttpBegun = std::variant<HttpAnswer, std::unique_ptr<HttpExchange>>;

// HttpService decides on each request once its head has arrived. Begin runs on the listener's
// thread: it must be quick and must not block.
class HttpService {
 public:
  virtual ~HttpService() = default;
  virtual HttpBegun Begin(const HttpRequest& request) = 0;
};

class HttpListener;
// HttpListenerStart is a running listener, or the reason it could not start.
using HttpListenerStart = std::variant<std::unique_ptr<HttpListener>, std::string>;

class HttpListener {
 public:
  // Start listens on `address` (a literal IPv4 or IPv6 address) and `port` (0 picks one) and
  // answers every request with `handler` (a body is not read), within `limits`. Returns the
  // listener, or the failed step and the system's reason ("bind: Address already in use").
  static HttpListenerStart Start(const std::string& address, uint16_t port,
                                 const HttpLimits& limits, HttpHandler handler);
  // Start as above, with `service` deciding on each request.
  static HttpListenerStart Start(const std::string& address, uint16_t port,
                                 const HttpLimits& limits, std::shared_ptr<HttpService> service);
  // Stops accepting, answers the requests still waiting for their exchange's reply with 503,
  // ends the open connections and joins the listener's threads.
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  // BoundPort is the port it listens on.
  uint16_t BoundPort() const;

 private:
  struct Daemon;
  explicit HttpListener(UniqueFd socket);

  UniqueFd listenSocket;
  std::unique_ptr<Daemon> daemon;
};

}  // namespace platform
