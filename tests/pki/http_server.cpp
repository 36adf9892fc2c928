#include "tests/pki/http_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace tests::pki {
namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;
// Bounds each read, so a client that neither sends nor closes cannot hold a thread for long.
constexpr int kReceiveTimeoutSeconds = 10;

std::string PathKey(std::string_view path) {
  if (!path.empty() && path.front() == '/') return std::string(path);
  std::string key = "/";
  key += path;
  return key;
}

std::string_view ReasonPhrase(int status) {
  struct Reason {
    int status;
    std::string_view phrase;
  };
  static constexpr Reason kReasons[] = {
      {100, "Continue"},
      {200, "OK"},
      {204, "No Content"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {400, "Bad Request"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {503, "Service Unavailable"},
  };
  for (const Reason& reason : kReasons) {
    if (reason.status == status) return reason.phrase;
  }
  return "Status";
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

ssize_t ReceiveSome(int fd, char* buffer, size_t size) {
  for (;;) {
    const ssize_t received = recv(fd, buffer, size, 0);
    if (received >= 0 || errno != EINTR) return received;
  }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
  });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Request is what the server needs of a request header.
struct Request {
  std::string_view method;
  std::string_view target;
  size_t contentLength = 0;
  bool expectContinue = false;
};

// ParseHeader reads the request line and the headers of `header` (without the blank line).
bool ParseHeader(std::string_view header, Request* request) {
  const size_t lineEnd = header.find("\r\n");
  const std::string_view requestLine = header.substr(0, lineEnd);
  const size_t firstSpace = requestLine.find(' ');
  const size_t secondSpace = requestLine.find(' ', firstSpace + 1);
  if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos) return false;
  request->method = requestLine.substr(0, firstSpace);
  request->target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  if (!requestLine.substr(secondSpace + 1).starts_with("HTTP/1.")) return false;
  std::string_view rest = lineEnd == std::string_view::npos ? "" : header.substr(lineEnd + 2);
  while (!rest.empty()) {
    const size_t end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? "" : rest.substr(end + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsIgnoringCase(name, "Content-Length")) {
      const auto [parsedEnd, error] =
          std::from_chars(value.data(), value.data() + value.size(), request->contentLength);
      if (error != std::errc() || parsedEnd != value.data() + value.size()) return false;
    } else if (EqualsIgnoringCase(name, "Expect")) {
      request->expectContinue = EqualsIgnoringCase(value, "100-continue");
    }
  }
  return true;
}

std::string StatusHeader(int status, std::string_view contentType, size_t contentLength,
                         std::string_view location = {}) {
  std::string header =
      "HTTP/1.1 " + std::to_string(status) + " " + std::string(ReasonPhrase(status)) + "\r\n";
  if (!location.empty()) header += "Location: " + std::string(location) + "\r\n";
  if (!contentType.empty()) header += "Content-Type: " + std::string(contentType) + "\r\n";
  header += "Content-Length: " + std::to_string(contentLength) + "\r\nConnection: close\r\n\r\n";
  return header;
}

}  // namespace

HttpServer::HttpServer() {
  listener.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (!listener ||
      bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener.get(), SOMAXCONN) != 0 ||
      getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::fprintf(stderr, "pki: HttpServer cannot listen: %s\n", std::strerror(errno));
    listener.reset();
    return;
  }
  port = ntohs(address.sin_port);
  acceptor = std::thread(&HttpServer::AcceptLoop, this);
}

HttpServer::~HttpServer() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
    for (const Connection& connection : connections) {
      if (connection.fd >= 0) shutdown(connection.fd, SHUT_RDWR);
    }
  }
  stopped.notify_all();
  // Shutting the listening socket down makes the blocked accept return.
  if (listener) shutdown(listener.get(), SHUT_RDWR);
  if (acceptor.joinable()) acceptor.join();
  // No connection is added once the acceptor has ended, so the list is stable here.
  for (Connection& connection : connections) connection.thread.join();
}

std::string HttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port) + PathKey(path);
}

void HttpServer::Serve(std::string_view path, std::vector<uint8_t> body, std::string contentType) {
  std::lock_guard lock(mutex);
  Route& route = routes[PathKey(path)];
  route.status = 200;
  route.body = std::move(body);
  route.contentType = std::move(contentType);
}

void HttpServer::ServeStatus(std::string_view path, int status) {
  std::lock_guard lock(mutex);
  Route& route = routes[PathKey(path)];
  route.status = status;
  route.body.clear();
  route.contentType.clear();
}

void HttpServer::ServeRedirect(std::string_view path, std::string location) {
  ServeStatus(path, 302);
  std::lock_guard lock(mutex);
  routes[PathKey(path)].location = std::move(location);
}

void HttpServer::SetDelay(std::string_view path, std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex);
  routes[PathKey(path)].delay = delay;
}

void HttpServer::SetStall(std::string_view path, size_t sentBytes) {
  std::lock_guard lock(mutex);
  routes[PathKey(path)].stallAfter = sentBytes;
}

int HttpServer::Hits(std::string_view path) const {
  std::lock_guard lock(mutex);
  const auto found = routes.find(PathKey(path));
  return found == routes.end() ? 0 : found->second.hits;
}

void HttpServer::AcceptLoop() {
  for (;;) {
    platform::UniqueFd fd(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const int acceptError = fd ? 0 : errno;
    if (acceptError == EINTR || acceptError == ECONNABORTED) continue;
    std::lock_guard lock(mutex);
    if (stopping) return;
    if (!fd) {
      std::fprintf(stderr, "pki: HttpServer stops accepting: %s\n", std::strerror(acceptError));
      return;
    }
    JoinFinishedConnections();
    Connection& connection = connections.emplace_back();
    connection.fd = fd.get();
    connection.thread =
        std::thread(&HttpServer::HandleConnection, this, &connection, std::move(fd));
  }
}

void HttpServer::JoinFinishedConnections() {
  for (auto it = connections.begin(); it != connections.end();) {
    if (!it->done) {
      ++it;
      continue;
    }
    it->thread.join();  // the thread has nothing left to do but return
    it = connections.erase(it);
  }
}

void HttpServer::HandleConnection(Connection* connection, platform::UniqueFd fd) {
  const timeval timeout{kReceiveTimeoutSeconds, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string received;
  size_t headerEnd = std::string::npos;
  char buffer[4096];
  while (headerEnd == std::string::npos && received.size() <= kMaxHeaderBytes) {
    const ssize_t count = ReceiveSome(fd.get(), buffer, sizeof buffer);
    if (count <= 0) break;
    received.append(buffer, static_cast<size_t>(count));
    headerEnd = received.find("\r\n\r\n");
  }
  Request request;
  if (headerEnd == std::string::npos) {
    // Closed, timed out or cut by the destructor before a whole header arrived.
  } else if (!ParseHeader(std::string_view(received).substr(0, headerEnd), &request)) {
    SendAll(fd.get(), StatusHeader(400, "", 0));
  } else {
    if (request.expectContinue) SendAll(fd.get(), "HTTP/1.1 100 Continue\r\n\r\n");
    // A POSTed body (an OCSP request) is read and dropped, so that closing the socket does not
    // reset the connection before the client has read the answer.
    size_t bodyLeft = request.contentLength;
    bodyLeft -= std::min(bodyLeft, received.size() - headerEnd - 4);
    while (bodyLeft > 0) {
      const ssize_t count = ReceiveSome(fd.get(), buffer, std::min(bodyLeft, sizeof buffer));
      if (count <= 0) break;
      bodyLeft -= static_cast<size_t>(count);
    }
    if (bodyLeft == 0) Answer(fd.get(), request.method, request.target);
  }
  // Let the client see the end of the answer, then wait for it to close its side.
  shutdown(fd.get(), SHUT_WR);
  while (ReceiveSome(fd.get(), buffer, sizeof buffer) > 0) {
  }
  std::lock_guard lock(mutex);
  // Closed under the lock, so that the destructor never shuts down a reused descriptor number.
  fd.reset();
  connection->fd = -1;
  connection->done = true;
}

void HttpServer::Answer(int fd, std::string_view method, std::string_view target) {
  const bool head = method == "HEAD";
  if (method != "GET" && method != "POST" && !head) {
    SendAll(fd, StatusHeader(501, "", 0));
    return;
  }
  Route route;
  {
    std::unique_lock lock(mutex);
    Route& registered = routes[PathKey(target)];
    ++registered.hits;
    route = registered;
    if (route.delay.count() > 0 && stopped.wait_for(lock, route.delay, [this] { return stopping; }))
      return;  // the server is going away: drop the answer
  }
  std::string answer =
      StatusHeader(route.status, route.contentType, route.body.size(), route.location);
  const size_t sent = std::min(route.body.size(), route.stallAfter.value_or(route.body.size()));
  if (!head) answer.append(reinterpret_cast<const char*>(route.body.data()), sent);
  SendAll(fd, answer);
  if (!head && route.stallAfter) {
    // Stay silent until the client gives up and closes, or the destructor cuts the connection.
    char byte = 0;
    for (;;) {
      const ssize_t count = ReceiveSome(fd, &byte, 1);
      if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) break;
    }
  }
}

}  // namespace tests::pki
