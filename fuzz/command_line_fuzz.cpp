// Drives the command-line scan with arbitrary text and checks its record against the switches it
// reports, replayed in order:
//  - "s", "i", "u" set their flags; "test" sets the direct run, "service" and "start" clear it,
//    "gui" sets gui and clears it; the last of these in order decides the direct run;
//  - "gui" cancels registration, else "i" registers and wins over "u";
//  - every switch reported stands in the text after a '-' or '/' as a whole token.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "host/command_line.h"

namespace fuzz {
namespace {

using host::CommandLineRegistration;
using host::CommandLineSwitch;

void Check(std::string_view text) {
  const host::CommandLineScan scan = host::ScanCommandLine(text);
  bool silent = false, install = false, uninstall = false, runHere = true, gui = false;
  for (const CommandLineSwitch found : scan.switches) {
    switch (found) {
      case CommandLineSwitch::kSilent:
        silent = true;
        break;
      case CommandLineSwitch::kInstall:
        install = true;
        break;
      case CommandLineSwitch::kUninstall:
        uninstall = true;
        break;
      case CommandLineSwitch::kTest:
        runHere = true;
        break;
      case CommandLineSwitch::kStart:
      case CommandLineSwitch::kService:
        runHere = false;
        break;
      case CommandLineSwitch::kGui:
        gui = true, runHere = false;
        break;
    }
  }
  Require(scan.silent == silent && scan.install == install && scan.uninstall == uninstall &&
              scan.runHere == runHere && scan.gui == gui,
          "the flags are the switches replayed in order");
  const CommandLineRegistration expected = gui         ? CommandLineRegistration::kNone
                                           : install   ? CommandLineRegistration::kRegister
                                           : uninstall ? CommandLineRegistration::kUnregister
                                                       : CommandLineRegistration::kNone;
  Require(scan.registration == expected, "gui cancels registration; i wins over u");
  size_t starts = 0;
  for (const char c : text) starts += c == '-' || c == '/';
  Require(scan.switches.size() <= starts, "every switch follows its own '-' or '/'");
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Check(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
