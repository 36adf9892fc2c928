#pragma once

// One connection to the server, as a careful client holds it: the greeting read first, each
// command answered before the next is sent, blocks ended by their "." line, and every wait
// bounded.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/options.h"
#include "platform/base/unique_fd.h"

namespace client {

// BlockSource hands out the next piece of a block's bytes; an empty piece ends the block, nullopt
// is a read failure (with the reason in `error`).
using BlockSource = std::function<std::optional<std::vector<uint8_t>>(std::string& error)>;

// How long replies are awaited: a settings command's, and an answer that may need downloads of
// documents, CRLs and hashes first.
inline constexpr std::chrono::milliseconds kReplyLimit{60'000};
inline constexpr std::chrono::milliseconds kAnswerLimit{600'000};

// kMaxHeldBase64 is the most Base64 text of data blocks, line ends included, that one connection
// sends. It mirrors the server's limit of 128 MiB of blocks held per connection, beyond which the
// server closes the connection, less a margin for what the server counts besides the text (the
// part of a line it has read, the spare room of its buffers): a document of about 90 MiB.
inline constexpr uint64_t kMaxHeldBase64 = uint64_t{123} << 20;

class Connection {
 public:
  // Open connects and reads the greeting; nullopt with `error` set when that fails.
  static std::optional<Connection> Open(const ServerAddress& address, std::string& error);

  // Command sends `line` and returns the one-line reply without its line end. Nullopt with
  // `error` set when the connection fails or the reply is not an "OK:" line; a reply beginning
  // with "error:" or "Error:" is the error, converted to UTF-8.
  // The reply is awaited up to `limit`.
  std::optional<std::string> Command(const std::string& line, std::string& error,
                                     std::chrono::milliseconds limit = kReplyLimit);

  // Block sends the block command `command`, then the bytes `source` gives in Base64 lines of 76
  // characters, then the "." line, and returns the server's reply as Command does. `sent` is told
  // the count of bytes sent so far.
  std::optional<std::string> Block(const std::string& command, const BlockSource& source,
                                   const std::function<void(uint64_t)>& sent, std::string& error);

  // Answer sends `line` and reads the answer through its "." line, which it leaves out. An
  // answer that begins with an "error:" or "Error:" line is returned as that line alone.
  std::optional<std::vector<std::string>> Answer(const std::string& line, std::string& error);

  // Quit sends QUIT and reads its reply, not minding a failure: the work is done by then.
  void Quit();

 private:
  explicit Connection(platform::UniqueFd connected) : fd(std::move(connected)) {}
  bool Send(std::string_view data, std::string& error);
  // Reply reads the reply to `line`, already sent, as Command does.
  std::optional<std::string> Reply(const std::string& line, std::string& error,
                                   std::chrono::milliseconds limit);
  // ReadLine returns the next line without its line end. An unfinished line that begins like an
  // error counts as a line once nothing more arrives for a second, since some error answers
  // carry no line end.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit, std::string& error);

  platform::UniqueFd fd;
  std::string pending;
};

// IsErrorLine is true for a line beginning with "error:" or "Error:".
bool IsErrorLine(std::string_view line);

}  // namespace client
