#include "host/command_line.h"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(ScanCommandLine, AppliesSwitchesInOrderOfAppearance) {
  using enum CommandLineSwitch;
  using enum CommandLineRegistration;
  struct Case {
    std::string_view line;
    bool silent, install, uninstall, runHere, gui;
    std::vector<CommandLineSwitch> switches;
    CommandLineRegistration registration;
  };
  const Case kCases[] = {
      {"quilmarend", false, false, false, true, false, {}, kNone},
      {"quilmarend -Service", false, false, false, false, false, {kService}, kNone},
      {"quilmarend -services", false, false, false, true, false, {}, kNone},  // longer token
      {"quilmarend /i", false, true, false, true, false, {kInstall}, kRegister},
      {"quilmarend -I -s", true, true, false, true, false, {kInstall, kSilent}, kRegister},
      {"quilmarend -install", false, false, false, true, false, {}, kNone},
      {"quilmarend -service -test", false, false, false, true, false, {kService, kTest}, kNone},
      {"quilmarend -test -service", false, false, false, false, false, {kTest, kService}, kNone},
      {"quilmarend -start -test", false, false, false, true, false, {kStart, kTest}, kNone},
      {"quilmarend -gui -i", false, true, false, false, true, {kGui, kInstall}, kNone},
      {"quilmarend -u -i", false, true, true, true, false, {kUninstall, kInstall}, kRegister},
      {"quilmarend -u", false, false, true, true, false, {kUninstall}, kUnregister},
      // Path parts followed by '/' are no switches; a last part followed by a space is one.
      {"/opt/quilmarend-test/bin/quilmarend -service",
       false,
       false,
       false,
       false,
       false,
       {kService},
       kNone},
      {"/usr/lib/s -i", true, true, false, true, false, {kSilent, kInstall}, kRegister},
      // Tabs end tokens; a '-' inside a token starts a further one ("--u" is "u").
      {"q\t-TEST\t--u x-gui", false, false, true, false, true, {kTest, kUninstall, kGui}, kNone},
      {"quilmarend -i-s -", true, false, false, true, false, {kSilent}, kNone},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    const CommandLineScan scan = ScanCommandLine(c.line);
    EXPECT_EQ(scan.silent, c.silent);
    EXPECT_EQ(scan.install, c.install);
    EXPECT_EQ(scan.uninstall, c.uninstall);
    EXPECT_EQ(scan.runHere, c.runHere);
    EXPECT_EQ(scan.gui, c.gui);
    EXPECT_EQ(scan.switches, c.switches);
    EXPECT_EQ(scan.registration, c.registration);
  }
}

TEST(FindLongSwitch, HelpAndVersionFormsOutsideAnImport) {
  using enum LongSwitch;
  struct Case {
    std::vector<const char*> argv;
    LongSwitch found;
  };
  const Case kCases[] = {
      {{"q", "--help"}, kHelp},
      {{"q", "-s", "--version", "--help"}, kVersion},
      {{"q", "-help"}, kHelp},
      {{"q", "--HELP"}, kHelp},
      {{"q", "-h"}, kHelp},
      {{"q", "-?"}, kHelp},
      {{"q", "/?"}, kHelp},
      {{"q", "-H"}, kNone},
      {{"q", "-test", "-V"}, kVersion},
      {{"q", "/Version"}, kVersion},
      {{"q", "-v"}, kNone},
      {{"q", "-helpme"}, kNone},
      {{"q", "/Import", "--help"}, kNone},  // a file named "--help"
      {{"q"}, kNone},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.argv.size() > 1 ? c.argv[1] : "");
    EXPECT_EQ(FindLongSwitch(static_cast<int>(c.argv.size()), c.argv.data()), c.found);
  }
}

TEST(JoinCommandLine, JoinsWithSingleSpaces) {
  const char* const argv[] = {"/usr/bin/quilmarend", "-i", "", "-s"};
  EXPECT_EQ(JoinCommandLine(4, argv), "/usr/bin/quilmarend -i  -s");
}

}  // namespace
}  // namespace host
