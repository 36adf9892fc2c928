#pragma once

// One connection to the server, used as a pipeline: requests are queued and sent as fast as the
// socket takes them, without waiting for the replies before them, and replies are read in their
// order while sending goes on. Nothing waits longer than the time-out without a byte moving.
//
// Example:
//   std::optional<Session> session = Session::Open(address, 30s, failure);
//   session->Command("B64ON");
//   session->Request("CHECK");
//   std::optional<Reply> b64 = session->Next(failure);    // "OK: String will decoded"
//   std::optional<Reply> answer = session->Next(failure);

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "client/failure.h"
#include "client/options.h"
#include "client/reply_reader.h"
#include "platform/base/unique_fd.h"

namespace client {

class Session {
 public:
  // Open connects to `address` within `timeout`, which also bounds every later wait for the
  // server; nullopt with `failure` set (a connection failure) when it cannot.
  static std::optional<Session> Open(const ServerAddress& address,
                                     std::chrono::milliseconds timeout, Failure& failure);

  // Command queues the command `line`, whose reply is one line.
  void Command(std::string_view line);
  // Request queues the request `line` (CHECK), whose reply is an answer through its "." line.
  void Request(std::string_view line);
  // Data queues `lines` of a block, whole lines ending in CR LF; they are answered by nothing.
  void Data(std::string_view lines);
  // EndBlock queues the "." line that ends a block, whose reply is one line.
  void EndBlock();

  // Unsent is the number of queued bytes not yet sent.
  size_t Unsent() const { return outgoing.size() - sentBytes; }
  // Awaited is the number of replies not yet returned.
  size_t Awaited() const { return reader.Awaited(); }

  // Next sends what is queued and returns the next reply (the greeting is checked and passed
  // over). `refill`, when given, is called whenever fewer than kRefillBelow bytes wait to be
  // sent, and may queue more. Nullopt with `failure` set when the connection fails, goes silent
  // for the time-out, or the peer is not the server (a connection failure).
  std::optional<Reply> Next(Failure& failure, const std::function<void()>& refill = {});

  // Where is the server's address as messages name it.
  const std::string& Where() const { return where; }

  // Small enough that the first requests go out while later ones are still being read from
  // their files, large enough that each send carries many of them.
  static constexpr size_t kRefillBelow = size_t{64} << 10;

 private:
  Session(platform::UniqueFd connected, std::string address, std::chrono::milliseconds limit)
      : fd(std::move(connected)), where(std::move(address)), timeout(limit) {}
  // Queue appends `bytes` to what is sent.
  void Queue(std::string_view bytes);
  // Exchange waits until the socket can move bytes (or the time runs out) and moves them. False
  // with `failure` set when the connection can no longer deliver the awaited reply.
  bool Exchange(Failure& failure);
  // Trouble fills `failure` with a connection failure saying `what`, with what has been received
  // and not understood.
  void Trouble(Failure& failure, const std::string& what) const;

  platform::UniqueFd fd;
  std::string where;
  std::chrono::milliseconds timeout;
  ReplyReader reader;
  std::string outgoing;
  size_t sentBytes = 0;
  bool greeted = false;
  bool peerClosed = false;
  std::string sendError;  // the system's text once a send failed; nothing more is sent then
};

}  // namespace client
