#pragma once

// The server's replies cut out of the bytes it sends, in the order of the requests that asked for
// them: the greeting, one line for each command and block, and for CHECK an answer through its
// "." line. Requests may be sent long before their replies are read; only the order matters.
//
// Example:
//   ReplyReader reader;             // awaits the greeting
//   reader.Expect(ReplyShape::kLine);
//   reader.Take(received);
//   while (std::optional<Reply> reply = reader.Next()) Use(*reply);

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

enum class ReplyShape {
  kGreeting,  // "Quilmarend VERSION", then an empty line
  kLine,      // one line: "OK: ..." or an error
  kAnswer,    // lines through a "." line, or an error line (with or without a "." line)
};

struct Reply {
  std::vector<std::string> lines;  // without line ends; an answer's without its "." line
  // The request was refused: an error line ("error: ...", "Error: ..."), a line that is not
  // "OK: ..." where one was due, or a greeting that is not the server's.
  bool refused = false;
};

class ReplyReader {
 public:
  ReplyReader() { expected.push_back(ReplyShape::kGreeting); }

  // Expect adds a request, sent after those before it, whose reply has `shape`.
  void Expect(ReplyShape shape) { expected.push_back(shape); }
  // Awaited is the number of replies not yet returned, the greeting's included.
  size_t Awaited() const { return expected.size(); }

  // Take adds bytes received from the server.
  void Take(std::string_view bytes);

  // Next returns the reply to the oldest request still awaited once it is whole; nullopt until
  // then.
  std::optional<Reply> Next();

  // EndUnfinishedError takes an unfinished line that begins like an error as a whole line, since
  // some error answers end without a line end; call it when nothing more arrives. True when there
  // was such a line.
  bool EndUnfinishedError();

  // IsNotTheServer is true once the bytes received differ from the start of the greeting: the
  // peer is some other service.
  bool IsNotTheServer() const;

  // Unread is what has been received and not yet cut into replies.
  std::string_view Unread() const { return std::string_view(pending).substr(consumed); }

 private:
  // NextLine returns the next whole line without its line end, or nullopt.
  std::optional<std::string> NextLine();

  std::deque<ReplyShape> expected;
  std::string pending;
  size_t consumed = 0;             // bytes of `pending` already cut into lines
  std::vector<std::string> lines;  // of the reply being read
  bool dotMayFollow = false;       // an error line came: a "." line after it belongs to it
};

// IsErrorLine is true for a line beginning with "error:" or "Error:".
bool IsErrorLine(std::string_view line);

}  // namespace client
