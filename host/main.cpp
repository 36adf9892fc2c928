// Process entry: the host module over the desktop shell when a display is present, else over the
// headless one. QUILMAREND_PORT overrides the port 3847 that the server listens on.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "host/quilmarend_module.h"
#include "host/stop_signals.h"
#include "platform/crypto_library.h"
#include "platform/file_io.h"
#include "platform/shell.h"
#include "verify/libxml_binding.h"

namespace {

constexpr int kDefaultPort = 3847;

int PortFromEnvironment() {
  const char* text = std::getenv("QUILMAREND_PORT");
  if (text == nullptr || *text == '\0') return kDefaultPort;
  int port = 0;
  const std::string_view view(text);
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), port);
  if (error != std::errc() || end != view.data() + view.size() || port < 0 || port > 65535) {
    std::fprintf(stderr, "QUILMAREND_PORT: not a port number: %s\n", text);
    std::exit(2);
  }
  return port;
}

}  // namespace

int main(int argc, char** argv) {
  const int port = PortFromEnvironment();
  // Before any thread starts, so that every thread inherits the blocked stop signals.
  host::StopSignals::Block();
  const platform::CryptoLibrary cryptoLibrary;  // the GOST engine and the download library
  const std::unique_ptr<platform::Shell> shell = platform::MakeShell();
  host::CQuilmarendModule module(*shell, port);
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
