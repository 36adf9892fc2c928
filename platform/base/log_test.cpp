#include "platform/base/log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/cp1251.h"
#include "platform/base/debug_output.h"
#include "platform/base/unique_fd.h"

namespace platform {
namespace {

using namespace literals;

TEST(LogLine, HasThreadStampTabMessageAndCrLf) {
  const std::string message = FormatText("(%d) Начало проверки"_cp1251, 1234);
  EXPECT_EQ(LogLine(1234, "2021-03-02 12:00:05", message),
            "Quilmarend.exe:(1234)2021-03-02 12:00:05\t(1234) "
            "\xcd\xe0\xf7\xe0\xeb\xee \xef\xf0\xee\xe2\xe5\xf0\xea\xe8\r\n");
}

TEST(LogLine, WritesControlBytesOfTheMessageVisibly) {
  struct Case {
    std::string message, written;
  };
  const Case kCases[] = {
      {"a\tb", "a\tb"},  // a tab stays
      {"file:///x\r\nQuilmarend.exe:(1) forged", "file:///x\\r\\nQuilmarend.exe:(1) forged"},
      {"bell\a esc\x1b del\x7f end", "bell\\x07 esc\\x1b del\\x7f end"},
      {std::string("nul\0!", 5), "nul\\x00!"},
      {"\xcf\xf0\xe8\xec\xe5\xf0", "\xcf\xf0\xe8\xec\xe5\xf0"},  // "Пример": high bytes stay
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(LogLine(7, "", c.message), "Quilmarend.exe:(7)\t" + c.written + "\r\n");
  }
}

TEST(FormatText, FormatsLongTextsWhole) {
  const std::string big(5000, 'x');
  EXPECT_EQ(FormatText("<%s>", big.c_str()), "<" + big + ">");
  EXPECT_EQ(FormatText("IsProvContainsSignAlgorythm malloc (%08x)", 0x80090008u),
            "IsProvContainsSignAlgorythm malloc (80090008)");
}

// Runs `steps` in a batch with standard error on a socket that keeps each write apart, and
// returns the writes, each as the ids of its lines ("0 1|2": two lines, then one). A step
// "<id>:<n>" logs line <id> with a message of <n> bytes, "F" flushes, "[" and "]" open and end a
// nested batch.
std::string BatchWrites(const std::vector<std::string>& steps) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return "no socket";
  const UniqueFd writer(ends[0]), reader(ends[1]), saved(dup(STDERR_FILENO));
  dup2(writer.get(), STDERR_FILENO);
  {
    LogBatch batch;
    std::vector<std::unique_ptr<LogBatch>> inner;
    for (const std::string& step : steps) {
      if (step == "F") (inner.empty() ? batch : *inner.back()).Flush();
      if (step == "[") inner.push_back(std::make_unique<LogBatch>());
      if (step == "]") inner.pop_back();
      const size_t colon = step.find(':');
      if (colon == std::string::npos) continue;
      size_t bytes = 0;
      std::from_chars(step.data() + colon + 1, step.data() + step.size(), bytes);
      Log("#%s#%s", step.substr(0, colon).c_str(), std::string(bytes, 'x').c_str());
    }
  }
  dup2(saved.get(), STDERR_FILENO);
  std::string writes;
  char chunk[65536];
  for (ssize_t got; (got = recv(reader.get(), chunk, sizeof chunk, MSG_DONTWAIT)) > 0;) {
    const std::string_view written(chunk, static_cast<size_t>(got));
    if (!written.ends_with("\r\n")) return "a write ends inside a line";
    writes += writes.empty() ? "" : "|";
    for (size_t at = written.find('#'); at != std::string_view::npos; at = written.find('#', at)) {
      const size_t end = written.find('#', at + 1);
      writes += std::string(written.substr(at + 1, end - at - 1)) + ' ';
      at = written.find('\n', end);
    }
    writes.pop_back();
  }
  return writes;
}

TEST(LogBatch, WritesWholeLinesInOrderInChunksOfAtMost4096Bytes) {
  if (!DebugChannelIsStandardError()) GTEST_SKIP() << "the log goes to QUILMAREND_LOG";
  SetLogLevel(LogLevel::kDebug);
  struct Case {
    std::vector<std::string> steps;
    std::string writes;
  };
  const Case kCases[] = {
      {{"0:10", "1:10", "2:10"}, "0 1 2"},            // gathered, written when the batch ends
      {{"0:1500", "1:1500", "2:1500"}, "0 1|2"},      // the third would pass 4096: the two go first
      {{"0:10", "1:5000", "2:10"}, "0|1|2"},          // a longer line is written alone
      {{"0:10", "F", "1:10"}, "0|1"},                 // Flush writes what is gathered
      {{"F", "0:10"}, "0"},                           // and nothing when nothing is
      {{"0:10", "[", "1:10", "]", "2:10"}, "0 1 2"},  // a nested batch adds to the outer one
      {{"0:10", "[", "1:10", "F", "]", "2:10"}, "0 1 2"},  // and its Flush writes nothing
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.writes);
    EXPECT_EQ(BatchWrites(c.steps), c.writes);
  }
}

}  // namespace
}  // namespace platform
