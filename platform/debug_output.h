#pragma once

// OutputDebugStringA's stand-in: the debug-output channel that the server log writes to. Each call
// is one write(2) of the whole text, so lines of different threads never interleave within a line.
// The text goes to standard error; when QUILMAREND_LOG names a file at the first call, it is
// appended to that file instead.

#include <string_view>

namespace platform {

// OutputDebugStringA writes `text` as one write. Failures are ignored, as the debug channel's are.
void OutputDebugStringA(std::string_view text);

}  // namespace platform
