#pragma once

// The server's Windows-1251 texts in the charset of the user's locale.

#include <string>

namespace client {

// Utf8ToTerminal converts UTF-8 `text` to the charset of the locale set with setlocale;
// characters the charset lacks are approximated or become '?'.
std::string Utf8ToTerminal(std::string utf8);

// ToTerminal does the same for the server's Windows-1251 `text`.
std::string ToTerminal(const std::string& text);

}  // namespace client
