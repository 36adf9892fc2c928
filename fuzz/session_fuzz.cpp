// Feeds arbitrary bytes through a LineReader into a Session, the way a connection does, and checks
// what must hold for any client:
//  - the reader hands out every received byte exactly once, in order, cut after each line feed,
//    however the stream was split into receives (the first input bytes choose the split);
//  - every command outside a block gets exactly one answer, a block line none until its ".";
//  - every answer is non-empty, ends with CR LF and has no bare LF or NUL byte;
//  - a block's size never exceeds the bytes received for it, and is 0 outside a block;
//  - the same bytes delivered in one piece give the same answers and the same stored data.
//
// Input layout: byte 0 & 7 is the count k of split bytes that follow; each gives a receive size of
// value + 1 bytes, used in turn. With k = 0 the stream arrives in one receive.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "server/line_reader.h"
#include "server/session.h"

namespace fuzz {
namespace {

// Room asked for on every receive, as a connection asks for more than it usually gets.
constexpr size_t kReceiveRoom = 256;

class RecordingSink : public server::AnswerSink {
 public:
  void Send(std::string_view answer) override { answers.emplace_back(answer); }
  std::vector<std::string> answers;
};

// TrivialHandler answers the requests at once, one answer each, as the real pipeline does.
class TrivialHandler : public server::RequestHandler {
 public:
  server::RequestAnswer Check(std::string_view, const server::ConnectionSettings&,
                              server::ConnectionData&, const server::ClientGone&) override {
    return {"OK: checked\r\n.\r\n", "checked"};
  }
  server::RequestAnswer AddTimestamp(const server::ConnectionSettings&,
                                     server::ConnectionData&) override {
    return {"error: CAdES not supported\r\n", "refused"};
  }
  // GetHash fails for some references so that both answers of GETHASH are reached.
  std::string GetHash(const std::string& reference, const std::string&,
                      const server::ClientGone&) override {
    if (reference.empty() || (static_cast<unsigned char>(reference[0]) & 1) != 0) return {};
    return "3F25BC1F";
  }
};

// WithoutLineEnd is the line as the protocol reads it: trailing CR and LF bytes removed.
std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

void CheckAnswer(std::string_view answer) {
  Require(answer.size() >= 2 && answer.ends_with("\r\n"), "every answer ends with CR LF");
  Require(answer.find('\0') == std::string_view::npos, "no answer holds a NUL byte");
  for (size_t i = answer.find('\n'); i != std::string_view::npos; i = answer.find('\n', i + 1)) {
    Require(i > 0 && answer[i - 1] == '\r', "every LF of an answer follows a CR");
  }
}

// Outcome is what one pass over the stream leaves behind.
struct Outcome {
  std::vector<std::string> answers;
  bool quit = false;
  server::ConnectionSettings settings;
  server::ConnectionData data;
};

// Conversation drives one Session from a LineReader and checks the invariants of every line.
class Conversation {
 public:
  explicit Conversation(std::string_view stream) : expected(std::string(stream) + "\n") {}

  // Receive puts `bytes` into the reader as one receive and handles the lines it completes.
  void Receive(std::string_view bytes) {
    std::span<char> room = reader.Space(std::max(bytes.size(), kReceiveRoom));
    Require(room.size() >= bytes.size(), "Space gives at least the room asked for");
    std::copy(bytes.begin(), bytes.end(), room.begin());
    reader.Commit(bytes.size());
    Drain();
  }

  // Finish checks that the unfinished last line holds exactly the bytes not yet handed out.
  Outcome Finish() {
    Require(reader.PendingBytes() == expected.size() - 1 - handedOut,
            "PendingBytes counts the bytes after the last line feed");
    finishing = true;  // a connection drops its unfinished last line; here it checks the reader
    reader.Append("\n");
    Drain();
    Require(handedOut == expected.size(), "the reader hands out every byte");
    Require(reader.PendingBytes() == 0, "nothing pending after the last line feed");
    return Outcome{std::move(sink.answers), quit, session.Settings(), session.Data()};
  }

 private:
  void Drain() {
    while (const std::optional<std::string_view> line = reader.NextLine()) {
      Require(!line->empty() && line->back() == '\n', "a line ends with its line feed");
      Require(line->find('\n') == line->size() - 1, "a line holds one line feed");
      Require(std::string_view(expected).substr(handedOut, line->size()) == *line,
              "lines come out as they were received");
      handedOut += line->size();
      // After QUIT the connection ends; the reader is still drained to check its bytes.
      if (!quit && !finishing) HandleLine(*line);
    }
  }

  void HandleLine(std::string_view line) {
    const bool inBlock = session.OpenBlockMode() != server::BlockMode::kNone;
    const size_t blockBytesBefore = session.OpenBlockBytes();
    const size_t answersBefore = sink.answers.size();
    const bool keepGoing = session.HandleLine(line);
    const size_t produced = sink.answers.size() - answersBefore;
    for (size_t i = answersBefore; i < sink.answers.size(); ++i) CheckAnswer(sink.answers[i]);

    if (inBlock) {
      Require(keepGoing, "a block line never ends the connection");
      const bool closes = WithoutLineEnd(line) == ".";
      Require(produced == (closes ? 1 : 0), "only the closing dot of a block is answered");
      Require(closes == (session.OpenBlockMode() == server::BlockMode::kNone),
              "only the closing dot ends a block");
      if (!closes) {
        blockReceived += line.size();
        Require(session.OpenBlockBytes() >= blockBytesBefore, "an open block never shrinks");
        Require(session.OpenBlockBytes() <= blockReceived,
                "a block holds no more bytes than were received for it");
      }
    } else {
      Require(produced == 1, "every command gets exactly one answer");
      blockReceived = 0;
      if (!keepGoing) {
        Require(sink.answers.back() == "OK: Bye.\r\n", "the connection ends after Bye");
        quit = true;
      }
    }
    if (session.OpenBlockMode() == server::BlockMode::kNone) {
      Require(session.OpenBlockBytes() == 0, "OpenBlockBytes is 0 outside a block");
    }
  }

  const std::string expected;  // the stream and the line feed that completes its last line
  size_t handedOut = 0;        // bytes handed out in lines so far
  RecordingSink sink;
  TrivialHandler handler;
  server::Session session{handler, sink};
  server::LineReader reader;
  size_t blockReceived = 0;
  bool quit = false;
  bool finishing = false;
};

bool SameSettings(const server::ConnectionSettings& a, const server::ConnectionSettings& b) {
  const platform::SystemTime& ta = a.verifyTime;
  const platform::SystemTime& tb = b.verifyTime;
  return a.decodeBase64 == b.decodeBase64 && a.findCertificate == b.findCertificate &&
         a.checkRevocation == b.checkRevocation && a.htmlReport == b.htmlReport &&
         a.hashServer == b.hashServer && a.uploadService == b.uploadService &&
         a.oidList == b.oidList && a.keyLifetimeDays == b.keyLifetimeDays && ta.year == tb.year &&
         ta.month == tb.month && ta.day == tb.day && ta.hour == tb.hour && ta.minute == tb.minute &&
         ta.second == tb.second && ta.dayOfWeek == tb.dayOfWeek;
}

bool SameData(const server::ConnectionData& a, const server::ConnectionData& b) {
  return a.documentText == b.documentText && a.signatureText == b.signatureText &&
         a.certificateText == b.certificateText && a.hashedXmlText == b.hashedXmlText &&
         a.hashedXmlGiven == b.hashedXmlGiven;
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size == 0) return 0;
  const size_t splitCount = std::min<size_t>(bytes[0] & 7, size - 1);
  const std::span<const uint8_t> splits(bytes + 1, splitCount);
  const std::string_view stream(reinterpret_cast<const char*>(bytes) + 1 + splitCount,
                                size - 1 - splitCount);

  fuzz::Conversation pieces(stream);
  size_t next = 0;
  for (size_t i = 0; next < stream.size(); ++i) {
    const size_t piece = splits.empty() ? stream.size() : splits[i % splits.size()] + size_t{1};
    pieces.Receive(stream.substr(next, piece));
    next += piece;
  }
  const fuzz::Outcome split = pieces.Finish();

  fuzz::Conversation whole(stream);
  whole.Receive(stream);
  const fuzz::Outcome joined = whole.Finish();

  fuzz::Require(split.answers == joined.answers, "answers do not depend on how bytes arrive");
  fuzz::Require(split.quit == joined.quit, "QUIT does not depend on how bytes arrive");
  fuzz::Require(fuzz::SameSettings(split.settings, joined.settings),
                "settings do not depend on how bytes arrive");
  fuzz::Require(fuzz::SameData(split.data, joined.data),
                "stored blocks do not depend on how bytes arrive");
  return 0;
}
