// Process entry: --help and --version, the settings, then the host module over the desktop shell
// when a display is present, else over the headless one.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <variant>

#include "host/command_line.h"
#include "host/host_texts.h"
#include "host/quilmarend_module.h"
#include "host/settings.h"
#include "host/stop_signals.h"
#include "platform/base/debug_output.h"
#include "platform/base/names.h"
#include "platform/crypto/cert_cache.h"
#include "platform/crypto/crypto_library.h"
#include "platform/os/file_io.h"
#include "platform/os/memory.h"
#include "platform/os/shell.h"
#include "verify/libxml_binding.h"

int main(int argc, char** argv) {
  switch (host::FindLongSwitch(argc, argv)) {
    case host::LongSwitch::kHelp:
      std::fputs(host::texts::kUsage, stdout);
      std::fputs(host::SettingsHelp().c_str(), stdout);
      std::fputs(host::texts::kUsageEnd, stdout);
      return 0;
    case host::LongSwitch::kVersion:
      std::printf(host::texts::kVersionLineFormat, platform::kProgramFileName,
                  platform::kDottedVersion, platform::kProgramName, platform::kVersion);
      return 0;
    case host::LongSwitch::kNone:
      break;
  }
  const auto read = host::ReadSettings(std::getenv);
  if (const std::string* error = std::get_if<std::string>(&read)) {
    std::fprintf(stderr, host::texts::kSettingsErrorFormat, error->c_str());
    return 2;
  }
  const host::Settings& settings = std::get<host::Settings>(read);
  if (!settings.logFile.empty()) {
    const std::string refusal = platform::OpenDebugChannelFile(settings.logFile);
    if (!refusal.empty()) {
      std::fprintf(stderr, host::texts::kLogFileRefusedFormat, refusal.c_str(),
                   settings.logFile.c_str());
      return 2;
    }
  }
  platform::SetLogLevel(settings.logLevel);
  platform::CertCache::SetProcessEntries(settings.certCacheEntries);
  // Large blocks go back to the system when freed, so that what a few large requests took does
  // not stay with the process. Before any thread starts.
  platform::MapLargeAllocations();
  // Before any thread starts, so that every thread inherits the blocked stop signals.
  host::StopSignals::Block();
  const platform::CryptoLibrary cryptoLibrary;  // the GOST engine and the download library
  const std::unique_ptr<platform::Shell> shell = platform::MakeShell();
  host::CQuilmarendModule module(*shell, settings);
  int exitCode = 0;
  {
    const host::StopSignals signals([&module](int signal) { module.OnStopSignal(signal); });
    exitCode = module.WinMain(argc, argv);
  }
  // Files of requests that are still running (a download from a silent peer) go with the process.
  platform::RemoveRequestFiles();
  if (module.WorkersLeftBehind()) {
    // Workers still inside a request may be using the libraries that a normal exit would tear
    // down under them; the log is written, so the process ends here.
    std::_Exit(exitCode);
  }
  verify::LibXmlShutdown();  // every thread that canonicalized has ended
  return exitCode;
}
