#pragma once

// The server's Windows-1251 texts in the charset of the user's locale.

#include <string>

namespace client {

// ToTerminal converts Windows-1251 `text` to the charset of the locale set with setlocale;
// characters the charset lacks are approximated or become '?'.
std::string ToTerminal(const std::string& text);

}  // namespace client
