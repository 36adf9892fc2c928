#pragma once

// The debug-output channel that the server log writes to, the stand-in for OutputDebugStringA. The
// text goes to standard error, or is appended to the file that OpenDebugChannelFile opened. Each
// write of at most kAtomicChannelWrite bytes reaches a pipe in one piece, so lines of different
// threads never interleave within a line.
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

// DebugChannelIsStandardError tells whether the channel is standard error rather than a file of
// its own.
bool DebugChannelIsStandardError();

// OpenDebugChannelFile makes the channel append to the file at `path`, created (mode 0644) when
// missing. Only a regular file is taken: the path is opened without following a link and without
// waiting (a FIFO without a reader would block the open for ever), so a link, FIFO, device or
// folder is refused. Returns an empty text on success, else why it was refused; the channel is
// then unchanged. Call it at start-up, before other threads log.
std::string OpenDebugChannelFile(const std::string& path);

// ReopenDebugChannelFile opens the channel's file again by its path (after it was rotated away)
// and puts it in place of the old one without a moment in which a writer finds no channel.
// Returns the refusal as OpenDebugChannelFile does; the old file stays the channel then, and a
// channel on standard error is left as it is.
std::string ReopenDebugChannelFile();

// UseDebugChannelDescriptor makes the channel write to `fd` (a pipe, say), which it owns from
// then on. For programs that run the server in-process; call it before other threads log.
void UseDebugChannelDescriptor(int fd);

// CodesetIsUtf8 tells whether the locale named `localeName` ("" for the one the environment
// chooses) has the UTF-8 codeset; false for a locale that does not exist.
bool CodesetIsUtf8(const char* localeName);

}  // namespace platform
