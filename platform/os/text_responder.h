#pragma once

// TextResponder answers every TCP connection on a port of its own with one short text and closes
// it, on one thread of its own: the shape of a load balancer's agent check, which connects, reads
// a line and hangs up. The text comes from a function called for each connection; it must be
// quick.
//
// Example:
//   TextResponderStart started = TextResponder::Start("127.0.0.1", 9385, [] { return "up\n"; });
//   // std::get<0>(started) answers until it goes; its destructor stops and joins its thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <variant>

#include "platform/base/unique_fd.h"

namespace platform {

class TextResponder;
// TextResponderStart is a running responder, or the reason it could not start.
using TextResponderStart = std::variant<std::unique_ptr<TextResponder>, std::string>;

class TextResponder {
 public:
  // Start listens on `address` (a literal IPv4 or IPv6 address) and `port` (0 picks one) and
  // sends each connection what `text` returns. Returns the responder, or the failed step and the
  // system's reason ("bind: Address already in use").
  static TextResponderStart Start(const std::string& address, uint16_t port,
                                  std::function<std::string()> text);
  // Stops accepting and joins the responder's thread.
  ~TextResponder();
  TextResponder(const TextResponder&) = delete;
  TextResponder& operator=(const TextResponder&) = delete;

  // BoundPort is the port it listens on.
  uint16_t BoundPort() const;

 private:
  TextResponder(UniqueFd socket, std::function<std::string()> text);
  void Run();

  UniqueFd listenSocket;
  std::function<std::string()> text;
  std::atomic<bool> stopping{false};
  std::thread thread;
};

}  // namespace platform
