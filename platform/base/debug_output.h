#pragma once

// The debug-output channel that the server log writes to, the stand-in for OutputDebugStringA. The
// text goes to standard error; when QUILMAREND_LOG names a file at the first call, it is appended
// to that file instead. Each write of at most kAtomicChannelWrite bytes reaches a pipe in one
// piece, so lines of different threads never interleave within a line.
//
// The system's ANSI code page becomes the locale's charset: texts arrive in Windows-1251 and go
// out in UTF-8 when the environment's locale (LC_ALL, LC_CTYPE, LANG) has the UTF-8 codeset, and
// unchanged otherwise (a C or POSIX locale keeps Windows-1251).

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The largest write that a pipe takes whole, never mixed with another writer's bytes.
inline constexpr size_t kAtomicChannelWrite = 4096;

// ChannelText returns the Windows-1251 `text` in the channel's charset.
std::string ChannelText(std::string text);

// WriteDebugChannel writes `bytes`, already in the channel's charset, as they are: with one write
// unless a signal cuts it short. Failures are ignored.
void WriteDebugChannel(std::string_view bytes);

// WriteStandardError writes `bytes` to standard error as they are, with one write unless a
// signal cuts it short. Failures are ignored.
void WriteStandardError(std::string_view bytes);

// DebugChannelIsStandardError tells whether the channel is standard error (QUILMAREND_LOG unset
// or empty) rather than a file of its own.
bool DebugChannelIsStandardError();

// CodesetIsUtf8 tells whether the locale named `localeName` ("" for the one the environment
// chooses) has the UTF-8 codeset; false for a locale that does not exist.
bool CodesetIsUtf8(const char* localeName);

}  // namespace platform
