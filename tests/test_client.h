#pragma once

// TestClient speaks the protocol over a real TCP connection, for the end-to-end tests and the
// load driver. Every read has a deadline, so a server that stays silent fails a test instead of
// hanging it.

#include <optional>
#include <string>
#include <string_view>

#include "platform/base/unique_fd.h"

namespace tests {

class TestClient {
 public:
  // Connect opens a connection to `to` (a literal IPv4 or IPv6 address) at `port`, from the
  // address `from` when it is given; an empty optional when it fails.
  static std::optional<TestClient> Connect(int port, const std::string& to = "127.0.0.1",
                                           const std::string& from = "");

  // Send writes all of `bytes`.
  bool Send(std::string_view bytes);
  // ReadLine returns the next line through its CR LF (or LF), or what arrived before the deadline
  // or the close.
  std::string ReadLine(int timeoutMs = 20000);
  // ReadUntilDot returns the lines up to and including the line ".\r\n".
  std::string ReadUntilDot(int timeoutMs = 20000);
  // ReadGreeting reads the greeting line and the empty line after it.
  std::string ReadGreeting(int timeoutMs = 20000);
  // Command sends `line` + CR LF and returns the one-line answer.
  std::string Command(std::string_view line);
  // SendBlock opens a block with `command`, sends `body` (already dot-stuffed, with line ends) and
  // the closing ".", and returns the closing answer.
  std::string SendBlock(std::string_view command, std::string_view body);
  // HasDataWithin is true when a byte (or the close) arrives within `timeoutMs`.
  bool HasDataWithin(int timeoutMs);
  // WaitClosed is true when the peer closes within `timeoutMs`, whatever it sends first.
  bool WaitClosed(int timeoutMs);
  // Received is everything read so far but not yet returned.
  const std::string& Pending() const { return buffer; }

 private:
  explicit TestClient(platform::UniqueFd connected) : fd(std::move(connected)) {}
  // Fill reads what is available within `timeoutMs`; false on close, error or time-out.
  bool Fill(int timeoutMs);

  platform::UniqueFd fd;
  std::string buffer;
};

}  // namespace tests
