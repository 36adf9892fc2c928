#pragma once

// HttpServer answers HTTP/1.0 and 1.1 GET, HEAD and POST requests on 127.0.0.1 with bodies the
// test registered, one connection per request, for CRL, issuer-certificate and OCSP downloads.
//
// Example:
//   HttpServer http;
//   http.Serve("/root.crl", crl, "application/pkix-crl");
//   certSpec.crlUrls = {http.Url("/root.crl")};
//   ...
//   EXPECT_EQ(http.Hits("/root.crl"), 1);

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/base/unique_fd.h"

namespace tests::pki {

class HttpServer {
 public:
  // HttpServer listens on an ephemeral port of 127.0.0.1 and starts accepting on its own
  // thread; each connection gets a thread of its own. Port() is 0 when the socket could not be
  // opened (the reason goes to standard error).
  HttpServer();
  // ~HttpServer stops accepting, cuts open connections (a delayed answer is dropped) and joins
  // every thread.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Port returns the listening port, or 0 when listening failed.
  uint16_t Port() const { return port; }

  // Url returns "http://127.0.0.1:<port>" followed by `path` (a "/" is put in front when
  // `path` lacks it).
  std::string Url(std::string_view path) const;

  // Serve answers requests for `path` (matched exactly, query included) with status 200,
  // `body` and the Content-Type `contentType`. Replaces an earlier answer for `path`, keeping
  // its delay and hit count. Thread-safe.
  void Serve(std::string_view path, std::vector<uint8_t> body, std::string contentType);

  // ServeStatus answers requests for `path` with `status` and an empty body. Thread-safe.
  void ServeStatus(std::string_view path, int status);

  // ServeRedirect answers requests for `path` with 302 and `location`. Thread-safe.
  void ServeRedirect(std::string_view path, std::string location);

  // SetDelay holds every answer for `path` back by `delay` (for time-out tests). The wait ends
  // early when the server is destroyed, and the answer is then dropped. Thread-safe.
  void SetDelay(std::string_view path, std::chrono::milliseconds delay);

  // SetStall makes answers for `path` stop after the header and the first `sentBytes` bytes of
  // the body (the header still announces the whole body): the connection then stays open and
  // silent until the client closes it or the server is destroyed (for slow-peer tests).
  // Thread-safe.
  void SetStall(std::string_view path, size_t sentBytes);

  // Hits returns how many requests named `path` so far, registered or not (unregistered paths
  // are answered 404). A request counts once its header has been read, before any delay.
  int Hits(std::string_view path) const;

 private:
  struct Route {
    int status = 404;
    std::string contentType;
    std::vector<uint8_t> body;
    std::chrono::milliseconds delay{0};
    std::optional<size_t> stallAfter;
    std::string location;  // of a redirect
    int hits = 0;
  };
  struct Connection {
    std::thread thread;
    int fd = -1;  // owned by the connection's thread; kept here to shut it down
    bool done = false;
  };

  void AcceptLoop();
  void HandleConnection(Connection* connection, platform::UniqueFd fd);
  void Answer(int fd, std::string_view method, std::string_view target);
  void JoinFinishedConnections();

  platform::UniqueFd listener;
  uint16_t port = 0;
  std::thread acceptor;

  mutable std::mutex mutex;
  std::condition_variable stopped;
  bool stopping = false;
  std::map<std::string, Route, std::less<>> routes;
  std::list<Connection> connections;
};

}  // namespace tests::pki
