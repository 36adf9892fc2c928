#include "server/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/line_reader.h"
#include "server/server_metrics.h"

namespace server {
namespace {

class RecordingSink : public AnswerSink {
 public:
  void Send(std::string_view answer) override { answers.emplace_back(answer); }
  std::vector<std::string> answers;
};

class FakeHandler : public RequestHandler {
 public:
  RequestAnswer Check(std::string_view commandLine, const ConnectionSettings&,
                      ConnectionData& data) override {
    checks.emplace_back(commandLine);
    seenDocument = data.documentText;
    return {"checked\r\n.\r\n", "checked"};
  }
  RequestAnswer AddTimestamp(const ConnectionSettings&, ConnectionData&) override {
    return {"ts\r\n", "ts"};
  }
  std::string GetHash(const std::string& reference, const std::string& hashServer) override {
    hashRequests.push_back(reference + "|" + hashServer);
    return reference == "missing" ? "" : "ABCD";
  }
  std::vector<std::string> checks;
  std::vector<std::string> hashRequests;
  std::string seenDocument;
};

// Fixture feeding raw bytes through a LineReader into a Session, as a socket would.
class SessionTest : public ::testing::Test {
 protected:
  // Feed sends `bytes` and returns the answers they produced.
  std::vector<std::string> Feed(std::string_view bytes) {
    sink.answers.clear();
    reader.Append(bytes);
    while (auto line = reader.NextLine()) {
      if (!session.HandleLine(*line)) {
        closed = true;
        break;
      }
    }
    return sink.answers;
  }
  std::string Answer(std::string_view line) {
    const auto answers = Feed(std::string(line) + "\r\n");
    return answers.size() == 1 ? answers[0] : "<" + std::to_string(answers.size()) + " answers>";
  }

  RecordingSink sink;
  FakeHandler handler;
  Session session{handler, sink};
  LineReader reader;
  bool closed = false;
};

TEST_F(SessionTest, SettingsCommandsAnswerExactly) {
  struct Case {
    std::string_view line, answer;
  };
  const Case kCases[] = {
      {"B64ON", "OK: String will decoded\r\n"},
      {"B64OFF", "OK: String will not decoded\r\n"},
      {"FINDON", "OK: Find certificate ON\r\n"},
      {"FINDOFF", "OK: Find certificate OFF\r\n"},
      {"CRLON", "OK: Check revocation on\r\n"},
      {"CRLOFF", "OK: Check revocation off\r\n"},
      {"HTMLON", "OK: HTML Report ON\r\n"},
      {"HTMLOFF", "OK: HTML Report OFF\r\n"},
      {"HASHSERVER host:1", "OK: Hashserver enabled\r\n"},
      {"HASHSERVER", "OK: Hashserver local enabled\r\n"},
      {"NOHASHSERVER", "OK: Hashserver disabled\r\n"},
      {"UPLOADSERVICE svc", "OK: Upload service enabled\r\n"},
      {"UPLOADSERVICE ", "OK: Upload service disabled\r\n"},
      {"MD5ON", "OK: File hash on\r\n"},
      {"MD5OFF", "OK: File hash off\r\n"},
      {"OID 1.2.3", "OK: Filter OID enabled\r\n"},
      {"OID ", "OK: Filter OID enabled\r\n"},
      {"SKLIFETIME 0", "OK: SecretKey Lifetime set to 366\r\n"},
      {"SKLIFETIME x", "OK: SecretKey Lifetime set to 366\r\n"},
      {"SKLIFETIME -5", "OK: SecretKey Lifetime set to -5\r\n"},
      {"TIME 2021-03-02", "OK: Time set - Tuesday, 02 March 2021 12:00:00\r\n"},
      {"TIME 2021-13-01", "error: Invalid time format\r\n"},
      {"STRS abc", "OK: String stored\r\n"},
      {"STRS ", "OK: String stored\r\n"},
      {"SIGN abc", "OK: Signature stored\r\n"},
      {"CERT abc", "OK: Certificate stored\r\n"},
      {"HASHEDXML <a/>", "OK: HashedXml stored\r\n"},
      {"ADD TS", "ts\r\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Answer(c.line), c.answer);
  }
  EXPECT_FALSE(closed);
}

TEST_F(SessionTest, UnknownLinesAreNotRecognised) {
  const std::string_view kUnknown[] = {"B64ON ",     "b64on",   "",        "HASHEDXMLX",
                                       "CHECK ",     "QUIT ",   "TIME",    "OID",
                                       "SKLIFETIME", "GETHASH", "ADD TS ", "check"};
  for (const std::string_view line : kUnknown) {
    SCOPED_TRACE(line);
    EXPECT_EQ(Answer(line), "error: What?\r\n.\r\n");
  }
  EXPECT_TRUE(handler.checks.empty());
}

TEST_F(SessionTest, FourByteRowsOpenBlocks) {
  EXPECT_EQ(Answer("STRSX"), "OK: Getting data, end with <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(session.OpenBlockMode(), BlockMode::kStrs);
  EXPECT_EQ(Answer("."), "OK: String stored\r\n");
  EXPECT_EQ(Answer("SIGNATURE"), "OK: Getting signature, end with <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(Answer("."), "OK: Signature stored. Length=0\r\n");
  EXPECT_EQ(Answer("CERTIFICATE"), "OK: Getting certificate, end with <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(Answer("."), "OK: Certificate stored. Length=0\r\n");
  EXPECT_EQ(Answer("HASHEDXML"), "OK: Getting HashedXml, end with <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(Answer("."), "OK: HashedXml stored. Length=0\r\n");
  EXPECT_TRUE(session.Data().hashedXmlGiven);
}

TEST_F(SessionTest, BlockUnstuffsDotsAndKeepsItsOwnLineEndings) {
  Feed("STRS\r\n..abc\r\n\r\ndef\r\n.\r\n");
  EXPECT_EQ(session.Data().documentText, ".abc\r\n\r\ndef");

  EXPECT_EQ(Feed("SIGN\nl1\nl2\n.\n"),
            (std::vector<std::string>{"OK: Getting signature, end with <CRLF>.<CRLF>\r\n",
                                      "OK: Signature stored. Length=5\r\n"}));
  EXPECT_EQ(session.Data().signatureText, "l1\nl2");

  // Each line keeps its own ending: the separator after "a" is CR LF, after "b" LF.
  Feed("CERT\r\na\r\nb\nc\r\n.\n");
  EXPECT_EQ(session.Data().certificateText, "a\r\nb\nc");
}

TEST_F(SessionTest, BlockLargerThanItsPiecesComesOutWhole) {
  // Lines of 700 KiB cross the boundaries of the 1 MiB pieces the block is gathered in.
  const std::string a(700 << 10, 'a'), b(700 << 10, 'b'), c(700 << 10, 'c');
  EXPECT_EQ(Feed("SIGN\r\n" + a + "\r\n." + b + "\n" + c + "\r\n.\r\n").back(),
            "OK: Signature stored. Length=2150403\r\n");  // 3 * 716800 + 2 + 1
  EXPECT_EQ(session.Data().signatureText, a + "\r\n" + b + "\n" + c);
}

TEST_F(SessionTest, LeadingEmptyLinesOfABlockLeaveNoTrace) {
  Feed("HASHEDXML\r\n\r\n\n<a/>\r\n\r\n.\r\n");
  EXPECT_EQ(session.Data().hashedXmlText, "<a/>\r\n");
}

TEST_F(SessionTest, CommandsInsideABlockAreData) {
  Feed("CERT\r\nQUIT\r\nCHECK\r\n");
  EXPECT_FALSE(closed);
  EXPECT_TRUE(handler.checks.empty());
  EXPECT_EQ(Feed(".\r\n"), std::vector<std::string>{"OK: Certificate stored. Length=11\r\n"});
  EXPECT_EQ(session.Data().certificateText, "QUIT\r\nCHECK");
}

TEST_F(SessionTest, TrailingCarriageReturnsAndLineFeedsAreStripped) {
  EXPECT_EQ(Feed("B64ON\r\r\r\n"), std::vector<std::string>{"OK: String will decoded\r\n"});
  EXPECT_TRUE(session.Settings().decodeBase64);
  Feed("STRS  spaced  \r\n");
  EXPECT_EQ(session.Data().documentText, " spaced  ");
}

TEST_F(SessionTest, SettingsPersistAndRequestsSeeThem) {
  Feed("STRS doc\r\nCHECK\r\nCHECK\r\n");
  EXPECT_EQ(handler.checks, (std::vector<std::string>{"CHECK", "CHECK"}));
  EXPECT_EQ(handler.seenDocument, "doc");
  Feed("HASHSERVER \r\n");
  EXPECT_EQ(session.Settings().hashServer, "");
  Feed("HASHSERVER\r\n");
  EXPECT_EQ(session.Settings().hashServer, "localhost");
}

TEST_F(SessionTest, GetHashAnswersWithTheHandlersDigest) {
  Feed("HASHSERVER h:1\r\n");
  EXPECT_EQ(Answer("GETHASH file:///x"), "OK: Hash=ABCD\r\n");
  EXPECT_EQ(Answer("GETHASH missing"), "error: couldn't calculate hash\r\n");
  EXPECT_EQ(handler.hashRequests, (std::vector<std::string>{"file:///x|h:1", "missing|h:1"}));
}

TEST_F(SessionTest, QuitAndExitEndTheConnectionAfterTheirAnswer) {
  EXPECT_EQ(Feed("QUIT\r\nB64ON\r\n"), std::vector<std::string>{"OK: Bye.\r\n"});
  EXPECT_TRUE(closed);
  RecordingSink otherSink;
  Session other(handler, otherSink);
  EXPECT_FALSE(other.HandleLine("EXIT\n"));
}

TEST_F(SessionTest, InvalidTimeLeavesTheEarlierTimeInPlace) {
  Feed("TIME 2021-03-02 10:00\r\n");
  Feed("TIME 2021-03-02 24:00:00\r\n");
  EXPECT_EQ(session.Settings().verifyTime.hour, 10);
  EXPECT_EQ(session.Settings().verifyTime.dayOfWeek, 2);
}

TEST_F(SessionTest, OpenBlockBytesCountsTheBlock) {
  Feed("STRS\r\n");
  Feed(std::string(1000, 'x') + "\r\n");
  EXPECT_EQ(session.OpenBlockBytes(), 1000u);
  Feed(".\r\n");
  EXPECT_EQ(session.OpenBlockBytes(), 0u);
}

// A line is counted as the command that runs it, so a line the server serves as STRS is not
// counted as "other", and one it answers "error: What?" is.
TEST(SessionCommands, CountedAsTheCommandThatRuns) {
  struct Case {
    std::string_view line, counted;
  };
  const Case kCases[] = {
      {"STRSX", "STRS"},
      {"STRS http://a/b", "STRS"},
      {"SIGNATURE", "SIGN"},
      {"CERTIFICATE", "CERT"},
      {"HASHSERVER", "HASHSERVER"},
      {"HASHSERVER h", "HASHSERVER"},
      {"ADD TS", "ADD TS"},
      {"ADD", "other"},
      {"CHECK now", "other"},
      {"B64ONX", "other"},
      {"TIME", "other"},
      {"HASHEDXML", "HASHEDXML"},
      {"QUIT", "QUIT"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    RecordingSink sink;
    FakeHandler handler;
    ServerMetrics metrics;
    Session session(handler, sink, "", &metrics);
    (void)session.HandleLine(std::string(c.line) + "\r\n");
    const std::string page = RenderMetrics(metrics, {});
    EXPECT_NE(page.find("quilmarend_requests_total{command=\"" + std::string(c.counted) + "\"} 1"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace server
