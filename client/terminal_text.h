#pragma once

// The server's Windows-1251 texts in the charset of the user's locale. The locale is read only
// when a text holds more than ASCII, so that a run that prints none loads no locale data.

#include <string>

namespace client {

// Utf8ToTerminal converts UTF-8 `text` to the charset of the locale (LC_ALL, LC_CTYPE, LANG);
// characters the charset lacks are approximated or become '?'.
std::string Utf8ToTerminal(std::string utf8);

// ToTerminal does the same for the server's Windows-1251 `text`.
std::string ToTerminal(const std::string& text);

}  // namespace client
