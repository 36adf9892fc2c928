#pragma once

// File: the scan of the program's command line. ScanCommandLine reads the switches and returns what
// they ask for as a plain record; it has no effects of its own, so the host carries out the record
// (launching the service-start command, registering, running the window thread) in the order the
// record gives.

#include <string>
#include <string_view>
#include <vector>

namespace host {

// CommandLineSwitch names the switches the scan knows, in the order a token is compared with them.
enum class CommandLineSwitch {
  kSilent,     // "s"
  kInstall,    // "i"
  kUninstall,  // "u"
  kTest,       // "test"
  kStart,      // "start"
  kService,    // "service"
  kGui,        // "gui"
};

// CommandLineRegistration is what follows the scan before any run: register as a service ("i"),
// remove the registration ("u"), or neither. "i" wins over "u"; "gui" cancels both.
enum class CommandLineRegistration { kNone, kRegister, kUnregister };

// CommandLineScan is the outcome of ScanCommandLine.
//
// Every "start" in `switches` is an attempt, at that point of the scan, to launch the service-start
// command (`systemctl start quilmarend` here) in place of the process; a successful launch ends the
// process with exit code 0 and nothing after it counts. The flags are the values the scan leaves
// when every such launch fails, which are the only values anyone reads. Before any launch the
// scan has done nothing but set flags, so the host may make the launch attempts first.
struct CommandLineScan {
  bool silent = false;   // no result boxes after "i" or "u"
  bool install = false;  // "i" was given
  bool uninstall = false;
  bool runHere = true;  // direct desktop run before the mode decision
  bool gui = false;     // "i" and "u" are ignored, no direct run
  // The switches matched, in the order they appear on the command line.
  std::vector<CommandLineSwitch> switches;
  // What the host does after the scan: the registration step, then (when `runHere`) the direct
  // run, then the mode decision; a registration step ends the process with exit code 0 instead.
  CommandLineRegistration registration = CommandLineRegistration::kNone;
};

// ScanCommandLine scans `commandLine`, the whole command line with the executable's path first.
// A '-' or '/' starts a token, which runs to the next space, tab or end; a token names a switch
// when it equals the switch's name apart from ASCII case, and the first such switch in
// CommandLineSwitch order applies. Unknown tokens are ignored. The scan goes on from the character
// after the '-' or '/', so a '-' or '/' inside a token (or inside the path) starts a further token.
//
// Example: ScanCommandLine("/usr/bin/quilmarend -service -test") gives runHere == true.
CommandLineScan ScanCommandLine(std::string_view commandLine);

// IsImportSwitch is true for "-import" or "/import", in any ASCII case: as the first argument it
// makes every argument after it a file path.
bool IsImportSwitch(std::string_view argument);

// LongSwitch is what the help and version forms ask for: print the usage or the version and exit,
// before anything else is read or opened.
enum class LongSwitch { kNone, kHelp, kVersion };

// FindLongSwitch returns the first argument of `argv` (`argc` entries, the executable first) that
// is a help form ("--help", "-help", "/help" in any case, "-h", "-?", "/?") or a version form
// ("--version", "-version", "/version" in any case, "-V"); kNone when none is, or when the first
// argument is the import switch, whose arguments are file paths.
LongSwitch FindLongSwitch(int argc, const char* const* argv);

// JoinCommandLine rebuilds the command line from `argv` (`argc` entries, the executable first),
// the arguments joined with single spaces.
std::string JoinCommandLine(int argc, const char* const* argv);

}  // namespace host
