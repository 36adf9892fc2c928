#include "host/command_line.h"

#include <algorithm>
#include <array>
#include <span>

namespace host {
namespace {

struct SwitchName {
  std::string_view name;
  CommandLineSwitch value;
};

// The order in which a token is compared with the switch names.
constexpr std::array<SwitchName, 7> kSwitches = {{
    {"s", CommandLineSwitch::kSilent},
    {"i", CommandLineSwitch::kInstall},
    {"u", CommandLineSwitch::kUninstall},
    {"test", CommandLineSwitch::kTest},
    {"start", CommandLineSwitch::kStart},
    {"service", CommandLineSwitch::kService},
    {"gui", CommandLineSwitch::kGui},
}};

bool EndsToken(char c) { return c == ' ' || c == '\t'; }

// Only ASCII letters change: every switch name is ASCII, and no other byte upper-cases into one.
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// TokenIs reports whether the token at the start of `rest` (up to a space, a tab or the end) is
// `name` apart from case.
bool TokenIs(std::string_view rest, std::string_view name) {
  if (rest.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (UpperAscii(rest[i]) != UpperAscii(name[i])) return false;
  }
  return rest.size() == name.size() || EndsToken(rest[name.size()]);
}

void Apply(CommandLineSwitch matched, CommandLineScan& scan) {
  scan.switches.push_back(matched);
  switch (matched) {
    case CommandLineSwitch::kSilent:
      scan.silent = true;
      break;
    case CommandLineSwitch::kInstall:
      scan.install = true;
      break;
    case CommandLineSwitch::kUninstall:
      scan.uninstall = true;
      break;
    case CommandLineSwitch::kTest:
      scan.runHere = true;
      break;
    case CommandLineSwitch::kStart:  // a failed launch lets the scan go on
    case CommandLineSwitch::kService:
      scan.runHere = false;
      break;
    case CommandLineSwitch::kGui:
      scan.gui = true;
      scan.runHere = false;
      break;
  }
}

}  // namespace

CommandLineScan ScanCommandLine(std::string_view commandLine) {
  CommandLineScan scan;
  size_t position = 0;
  while (true) {
    const size_t delimiter = commandLine.find_first_of("-/", position);
    if (delimiter == std::string_view::npos) break;
    position = delimiter + 1;
    const std::string_view rest = commandLine.substr(position);
    for (const SwitchName& candidate : kSwitches) {
      if (TokenIs(rest, candidate.name)) {
        Apply(candidate.value, scan);
        break;
      }
    }
  }
  if (!scan.gui) {
    if (scan.install) {
      scan.registration = CommandLineRegistration::kRegister;
    } else if (scan.uninstall) {
      scan.registration = CommandLineRegistration::kUnregister;
    }
  }
  return scan;
}

bool IsImportSwitch(std::string_view argument) {
  constexpr std::string_view kName = "import";
  if (argument.size() != kName.size() + 1 || (argument[0] != '-' && argument[0] != '/')) {
    return false;
  }
  for (size_t i = 0; i < kName.size(); ++i) {
    if ((argument[i + 1] | 0x20) != kName[i]) return false;
  }
  return true;
}

LongSwitch FindLongSwitch(int argc, const char* const* argv) {
  if (argc > 1 && IsImportSwitch(argv[1])) return LongSwitch::kNone;
  // The forms people type out of habit: a server started by mistake would listen on every address.
  constexpr std::string_view kHelpForms[] = {"--help", "-help", "/help", "-h", "-?", "/?"};
  constexpr std::string_view kVersionForms[] = {"--version", "-version", "/version", "-V"};
  const auto among = [](std::string_view argument, std::span<const std::string_view> forms) {
    return std::any_of(forms.begin(), forms.end(), [argument](std::string_view form) {
      // The word forms match in any case, as the switches do; -h and -V only as written.
      if (form.size() <= 2) return argument == form;
      return argument.size() == form.size() && TokenIs(argument, form);
    });
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (among(argument, kHelpForms)) return LongSwitch::kHelp;
    if (among(argument, kVersionForms)) return LongSwitch::kVersion;
  }
  return LongSwitch::kNone;
}

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) line += ' ';
    line += argv[i];
  }
  return line;
}

}  // namespace host
