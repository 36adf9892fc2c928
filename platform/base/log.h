#pragma once

// The server log: one line per call on the debug-output channel, in the form
//   "Quilmarend.exe:(<thread id>)<local time %Y-%m-%d %H:%M:%S>\t<message>\r\n"
// It takes no lock: its only state is the level (an atomic) and whether standard error is the
// journal, decided once. The listener, the connections, the verification engine and
// the certificate archive all write through it, so it sits below all of them.
//
// Example:
//   Log("(%d) Начало проверки"_cp1251, platform::GetCurrentThreadId());

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The level of a line, with its sd-daemon priority: errors (failures, refused or cut
// connections, workers left behind), notices (start, stop, registration), one info line per
// request, and debug (the trace of everything the server does).
enum class LogLevel : int { kError = 3, kNotice = 5, kInfo = 6, kDebug = 7 };

// SetLogLevel makes lines of a level above `level` silent from now on; kDebug (every line) at
// start. Lines that are not written are not even formatted.
void SetLogLevel(LogLevel level);
LogLevel CurrentLogLevel();

// ParseLogLevel reads "error", "notice", "info" or "debug"; nullopt for anything else.
std::optional<LogLevel> ParseLogLevel(std::string_view name);
// LogLevelName is the name ParseLogLevel reads.
std::string_view LogLevelName(LogLevel level);

// Log formats the message printf-style and writes the whole line with one write, as a debug line.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// LogAt is Log for a line of `level`.
void LogAt(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// LogNote writes `text` as one log line and, when the log goes to a file of its own, also as one
// line on standard error: what a person running a command should read, without a box.
void LogNote(std::string_view text);

// FormatText formats printf-style and returns the text; nothing is written.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// AppendFormat formats printf-style onto the end of `text`.
void AppendFormat(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));

// LogBatch gathers the log lines of the calling thread while it lives and writes them together, so
// that a request's dozen lines cost one write instead of a dozen.
//  - What is gathered: every line the thread writes through Log, LogAt and LogNote, at a level
//    the log writes, already formatted and in the channel's charset. Other threads' lines, and
//    what goes to standard error directly (LogNote's copy, the headless boxes), are not held.
//  - When it is written: on Flush and when the batch is destroyed; and before a line that would
//    take the gathered bytes past kAtomicChannelWrite (4096), which then starts the next chunk.
//  - Why 4096: a write of at most kAtomicChannelWrite bytes reaches a pipe in one piece, so each
//    chunk is whole lines that no other thread's write can cut into. A line longer than that can
//    be whole in no write; it is written alone, after the lines gathered before it.
//  - Nesting: a batch made while another is open on the same thread adds to the outer one; its
//    Flush and its end write nothing, and the outer batch writes everything in order.
// A batch belongs to the thread that made it and must end there, innermost first.
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

  // Flush writes the gathered lines now, in one write; nothing for an inner batch or when nothing
  // is gathered.
  void Flush();

 private:
  std::string lines;
  bool outermost;
};

// AppendVisible appends `text` to `out` with its control bytes other than TAB written as "\r",
// "\n" and "\xNN", so that the text cannot start a line of its own.
void AppendVisible(std::string& out, std::string_view text);

// LogLine builds the line for `message` with the thread id `threadId` and the time stamp `stamp`.
// Control bytes of the message other than TAB are written as "\r", "\n" and "\xNN". When the
// log goes to the journal (standard error is the stream JOURNAL_STREAM names), the line starts
// with the sd-daemon prefix of its level ("<7>") instead; `journal` says which.
std::string LogLine(unsigned threadId, std::string_view stamp, const std::string& message,
                    std::optional<LogLevel> journal = std::nullopt);

}  // namespace platform
