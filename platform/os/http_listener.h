#pragma once

// HttpListener serves small HTTP answers on a port of its own, on one thread of its own that
// polls all its connections, so that a slow or silent HTTP client never holds anything else up.
// The answer to each request comes from a handler that runs on that thread; it must be quick and
// must not block. Over libmicrohttpd, which only this file's implementation includes.
//
// Example:
//   HttpListenerStart started = HttpListener::Start("127.0.0.1", 9384,
//       [](std::string_view method, std::string_view path) {
//         return HttpAnswer{200, "text/plain; charset=utf-8", "ok\n"};
//       });
//   // std::get<0>(started) serves until it goes; its destructor stops and joins its thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/base/unique_fd.h"

namespace platform {

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
  // serves every request with `handler`. Returns the listener, or the failed step and the
  // system's reason ("bind: Address already in use").
  static HttpListenerStart Start(const std::string& address, uint16_t port, HttpHandler handler);
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
  std::unique_ptr<Daemon> daemon;
};

}  // namespace platform
