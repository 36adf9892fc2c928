#pragma once

// The host's own texts for a person at a terminal (ASCII).

namespace host::texts {

// kUsage is what --help prints: the switches, the settings and where to read more.
extern const char* const kUsage;
// kVersionLineFormat is what --version prints, filled with the program's file name, dotted
// version, name and version.
extern const char* const kVersionLineFormat;

}  // namespace host::texts
