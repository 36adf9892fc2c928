#pragma once

// FormatMessage's stand-in for system messages: our own Russian text (Windows-1251) for every
// status code the program can produce. A code without a text gives the empty text, as a code the
// system does not know does.

#include <cstdint>
#include <string>

namespace platform {

// SystemMessage returns the message text of `code` without a trailing line break, or empty. An
// HRESULT made from a Win32 code (0x8007xxxx) has the text of that code, as FormatMessage gives.
std::string SystemMessage(uint32_t code);

}  // namespace platform
