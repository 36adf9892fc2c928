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

// LogLine builds the line for `message` with the thread id `threadId` and the time stamp `stamp`.
std::string LogLine(unsigned threadId, std::string_view stamp, const std::string& message);

}  // namespace platform
