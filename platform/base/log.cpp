#include "platform/base/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/base/debug_output.h"
#include "platform/base/hex.h"
#include "platform/base/names.h"
#include "platform/base/thread_id.h"

namespace platform {
namespace {

// AppendV formats printf-style onto the end of `text`, straight into its buffer.
void AppendV(std::string& text, const char* format, va_list args) {
  const size_t start = text.size();
  constexpr size_t kFirstTry = 512;
  text.resize(start + kFirstTry);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(text.data() + start, kFirstTry, format, copy);
  va_end(copy);
  if (length < 0) {
    text.resize(start);
    return;
  }
  text.resize(start + static_cast<size_t>(length));
  if (static_cast<size_t>(length) >= kFirstTry) {
    std::vsnprintf(text.data() + start, static_cast<size_t>(length) + 1, format, args);
  }
}

std::string FormatV(const char* format, va_list args) {
  std::string text;
  AppendV(text, format, args);
  return text;
}

// LocalTimeStamp formats the current second in local time. The conversion takes the C library's
// time-zone lock, so each thread keeps the stamp of the second it last wrote, in storage without
// a destructor: objects destroyed at exit still log after the thread's own storage is gone.
std::string_view LocalTimeStamp() {
  thread_local time_t lastSecond = -1;
  thread_local char stamp[128];
  thread_local size_t stampLength = 0;
  const time_t now = std::time(nullptr);
  if (now != lastSecond) {
    lastSecond = now;
    std::tm local{};
    stampLength = localtime_r(&now, &local) != nullptr
                      ? std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local)
                      : 0;
  }
  return std::string_view(stamp, stampLength);
}

// The lines of this thread's open batch, if any. A plain pointer: it needs no destructor at
// thread exit.
thread_local std::string* openBatchLines = nullptr;

// Emit writes one whole line (already in the channel's charset), through the thread's batch when
// one is open.
void Emit(std::string_view line) {
  std::string* lines = openBatchLines;
  if (lines == nullptr) return WriteDebugChannel(line);
  if (lines->size() + line.size() > kAtomicChannelWrite) {
    if (!lines->empty()) WriteDebugChannel(*lines);
    lines->clear();
    if (line.size() > kAtomicChannelWrite) return WriteDebugChannel(line);
  }
  lines->append(line);
}

std::atomic<LogLevel> currentLevel{LogLevel::kDebug};

// ToJournal is true when standard error is the journal's stream (systemd sets JOURNAL_STREAM to
// its device and inode) and the log goes there: each line then carries its priority.
bool ToJournal() {
  static const bool journal = [] {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat info {};
    if (stream == nullptr || !DebugChannelIsStandardError() || fstat(STDERR_FILENO, &info) != 0) {
      return false;
    }
    unsigned long long device = 0, inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && device == info.st_dev &&
           inode == info.st_ino;
  }();
  return journal;
}

void WriteLine(LogLevel level, const char* format, va_list args) {
  const std::string message = FormatV(format, args);
  const std::optional<LogLevel> journal = ToJournal() ? std::optional(level) : std::nullopt;
  Emit(ChannelText(LogLine(GetCurrentThreadId(), LocalTimeStamp(), message, journal)));
}

}  // namespace

LogBatch::LogBatch() : outermost(openBatchLines == nullptr) {
  if (!outermost) return;
  lines.reserve(kAtomicChannelWrite);
  openBatchLines = &lines;
}

LogBatch::~LogBatch() {
  Flush();
  if (outermost) openBatchLines = nullptr;
}

void LogBatch::Flush() {
  if (!outermost || lines.empty()) return;
  WriteDebugChannel(lines);
  lines.clear();
}

void AppendVisible(std::string& out, std::string_view text) {
  size_t plainFrom = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte >= 0x20 && byte != 0x7f) || byte == '\t') continue;
    out.append(text, plainFrom, i - plainFrom);
    plainFrom = i + 1;
    if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\n') {
      out += "\\n";
    } else {
      out += "\\x";
      AppendHex(out, byte, HexCase::kLower);
    }
  }
  out.append(text, plainFrom);
}

std::string LogLine(unsigned threadId, std::string_view stamp, const std::string& message,
                    std::optional<LogLevel> journal) {
  std::string line;
  line.reserve(32 + stamp.size() + message.size());
  if (journal) {
    line += '<';
    line += static_cast<char>('0' + static_cast<int>(*journal));
    line += '>';
  }
  line += kProgramName;
  line += ".exe:(";
  line += std::to_string(threadId);
  line += ')';
  line += stamp;
  line += '\t';
  // Messages carry text from clients, peers and certificates: a control byte in it is written
  // visibly, so that nothing but the log itself starts a line.
  AppendVisible(line, message);
  line += "\r\n";
  return line;
}

void SetLogLevel(LogLevel level) { currentLevel.store(level, std::memory_order_relaxed); }

LogLevel CurrentLogLevel() { return currentLevel.load(std::memory_order_relaxed); }

std::optional<LogLevel> ParseLogLevel(std::string_view name) {
  for (const LogLevel level :
       {LogLevel::kError, LogLevel::kNotice, LogLevel::kInfo, LogLevel::kDebug}) {
    if (name == LogLevelName(level)) return level;
  }
  return std::nullopt;
}

std::string_view LogLevelName(LogLevel level) {
  switch (level) {
    case LogLevel::kError:
      return "error";
    case LogLevel::kNotice:
      return "notice";
    case LogLevel::kInfo:
      return "info";
    case LogLevel::kDebug:
      break;
  }
  return "debug";
}

void Log(const char* format, ...) {
  if (CurrentLogLevel() < LogLevel::kDebug) return;
  va_list args;
  va_start(args, format);
  WriteLine(LogLevel::kDebug, format, args);
  va_end(args);
}

void LogAt(LogLevel level, const char* format, ...) {
  if (CurrentLogLevel() < level) return;
  va_list args;
  va_start(args, format);
  WriteLine(level, format, args);
  va_end(args);
}

void LogNote(std::string_view text) {
  LogAt(LogLevel::kNotice, "%.*s", static_cast<int>(text.size()), text.data());
  if (!DebugChannelIsStandardError()) {
    WriteStandardError(ChannelText(std::string(text) + "\n"));
  }
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

void AppendFormat(std::string& text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendV(text, format, args);
  va_end(args);
}

}  // namespace platform
