#include "client/reply_reader.h"

#include <gtest/gtest.h>

namespace client {
namespace {

constexpr std::string_view kHello = "Quilmarend 3,1,0,10\r\n\r\n";

// Replies returns the replies to `shapes` cut from `stream`, fed in pieces of `piece` bytes, as
// "lines joined by |", with "!" in front of a refused one.
std::vector<std::string> Replies(const std::vector<ReplyShape>& shapes, std::string_view stream,
                                 size_t piece) {
  ReplyReader reader;
  for (const ReplyShape shape : shapes) reader.Expect(shape);
  std::vector<std::string> out;
  for (size_t at = 0; at < stream.size(); at += piece) {
    reader.Take(stream.substr(at, piece));
    while (std::optional<Reply> reply = reader.Next()) {
      std::string text = reply->refused ? "!" : "";
      for (size_t i = 0; i < reply->lines.size(); ++i) text += (i ? "|" : "") + reply->lines[i];
      out.push_back(text);
    }
  }
  if (reader.EndUnfinishedError()) out.push_back("!" + reader.Next()->lines.front());
  return out;
}

TEST(ReplyReader, CutsPipelinedRepliesWhereverTheReadsEnd) {
  using enum ReplyShape;
  using Shapes = std::vector<ReplyShape>;
  struct Case {
    const char* name;
    Shapes shapes;
    std::string stream;
    std::vector<std::string> replies;
  };
  const Case kCases[] = {
      {"a command and an answer",
       Shapes{kLine, kAnswer},
       std::string(kHello) + "OK: String will decoded\r\nCheckSignature: OK\r\nSubject: \r\n.\r\n",
       {"Quilmarend 3,1,0,10", "OK: String will decoded", "CheckSignature: OK|Subject: "}},
      // An error answer's "." line belongs to it, not to the reply after it.
      {"an error answer and its dot",
       Shapes{kAnswer, kLine},
       std::string(kHello) + "Error: Could not open inet file.\r\n.\r\nOK: Bye.\r\n",
       {"Quilmarend 3,1,0,10", "!Error: Could not open inet file.", "OK: Bye."}},
      {"an error line without a dot",
       Shapes{kLine, kLine},
       std::string(kHello) + "error: Invalid time format\r\nOK: Bye.\r\n",
       {"Quilmarend 3,1,0,10", "!error: Invalid time format", "OK: Bye."}},
      {"an error without a line end",
       Shapes{kAnswer},
       std::string(kHello) + "Error: unexpected",
       {"Quilmarend 3,1,0,10", "!Error: unexpected"}},
      {"a line that is not OK",
       Shapes{kLine},
       std::string(kHello) + "What\r\n",
       {"Quilmarend 3,1,0,10", "!What"}},
      {"another service",
       Shapes{kLine},
       "HTTP/1.1 400 Bad Request\r\n",
       {"!HTTP/1.1 400 Bad Request"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Replies(c.shapes, c.stream, c.stream.size()), c.replies);
    EXPECT_EQ(Replies(c.shapes, c.stream, 1), c.replies);  // CR and LF in separate reads too
  }
}

TEST(ReplyReader, TellsAnotherServiceByItsFirstByte) {
  ReplyReader reader;
  reader.Take("Quilmar");
  EXPECT_FALSE(reader.IsNotTheServer());
  ReplyReader other;
  other.Take("S");  // "SSH-2.0-...", without waiting for its line end
  EXPECT_TRUE(other.IsNotTheServer());
}

}  // namespace
}  // namespace client
