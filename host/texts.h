#pragma once

// The host's own texts for a person at a terminal (ASCII).

namespace host::texts {

// kUsage is what --help prints: the switches, the settings and where to read more.
extern const char* const kUsage;
// kVersionLine is what --version prints.
extern const char* const kVersionLine;

}  // namespace host::texts
