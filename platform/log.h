#pragma once

// The server log: one line per call on the debug-output channel, in the form
//   "Quilmarend.exe:(<thread id>)<local time %Y-%m-%d %H:%M:%S>\t<message>\r\n"
// It keeps no state and takes no lock. The listener, the connections, the verification engine and
// the certificate archive all write through it, so it sits below all of them.
//
// Example:
//   Log("(%d) Начало проверки"_cp1251, platform::GetCurrentThreadId());

#include <string>
#include <string_view>

namespace platform {

// Log formats the message printf-style and writes the whole line with one write.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// FormatText formats printf-style and returns the text; nothing is written.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// LogBatch gathers the calling thread's log lines while it lives and writes them together, so that
// a request's dozen lines cost one write instead of a dozen. Lines stay whole and in order: the
// gathered lines are written before a line that would take them past kAtomicChannelWrite bytes
// (a longer line is written alone), and whatever is left when the batch is flushed or destroyed.
// A batch opened while another is open on the same thread adds to the outer one. Not shared
// between threads.
//
// Example:
//   platform::LogBatch batch;
//   Log(...); Log(...);   // gathered
//   batch.Flush();        // written, before the answer goes out
class LogBatch {
 public:
  LogBatch();
  ~LogBatch();
  LogBatch(const LogBatch&) = delete;
  LogBatch& operator=(const LogBatch&) = delete;

  // Flush writes the gathered lines now.
  void Flush();

 private:
  std::string lines;
  bool outermost;
};

// AppendVisible appends `text` to `out` with its control bytes other than TAB written as "\r",
// "\n" and "\xNN", so that the text cannot start a line of its own.
void AppendVisible(std::string& out, std::string_view text);

// LogLine builds the line for `message` with the thread id `threadId` and the time stamp `stamp`.
// Control bytes of the message other than TAB are written as "\r", "\n" and "\xNN".
std::string LogLine(unsigned threadId, std::string_view stamp, const std::string& message);

}  // namespace platform
