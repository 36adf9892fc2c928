#pragma once

// The program's names and version, as the greeting, the log, the service registration, the
// desktop, the package and the client write them. Texts that merely mention the program (the
// usage text, the unit file, the boxes) keep their own words.

namespace platform {

// kProgramName is the program's name: the service's name, display name and event source, the
// greeting's first word, the log's module name and the download agent.
inline constexpr char kProgramName[] = "Quilmarend";

// kProgramFileName is its name in the file system and among accounts: the executable, the system
// user and group the service runs as, the tray icon's id.
inline constexpr char kProgramFileName[] = "quilmarend";

// kServiceUnitName is the unit's name, which systemctl takes as the service name.
inline constexpr char kServiceUnitName[] = "quilmarend.service";

// kVersion is the version as the greeting and the main window write it (the resource's form);
// kDottedVersion as the package and --version write it. deploy/package.cmake reads the latter
// from this line.
inline constexpr char kVersion[] = "3,1,0,10";
inline constexpr char kDottedVersion[] = "3.1.0.10";

// kAppId is the program's AppID, in its registry form with braces.
inline constexpr char kAppId[] = "{5B7E2C94-1D3A-4F86-B0E5-9A4C61D27F38}";

}  // namespace platform
