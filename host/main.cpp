// Entry point: starts the verification server on port 3847 (QUILMAREND_PORT overrides it), serves
// until SIGINT or SIGTERM, then stops the server in order.

#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>

#include "platform/crypto_library.h"
#include "server/tcp_server.h"
#include "verify/libxml_binding.h"

namespace {

constexpr int kDefaultPort = 3847;
constexpr int kWorkerCount = 100;

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

int main() {
  const int port = PortFromEnvironment();
  // The stop signals are taken by sigwait below, on this thread; every other thread inherits the
  // blocked mask, so none of them is interrupted by them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const platform::CryptoLibrary cryptoLibrary;  // the GOST engine and the download library
  std::unique_ptr<server::TCPServer> server;
  try {
    server = std::make_unique<server::TCPServer>(port, kWorkerCount);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Quilmarend: %s\n", e.what());
    return 1;
  }
  int received = 0;
  sigwait(&stopSignals, &received);
  const int stillBusy = server->Stop();
  server.reset();
  if (stillBusy > 0) {
    // Workers still inside a request may be using the libraries that a normal exit would tear
    // down under them; the log is written, so the process ends here.
    std::_Exit(0);
  }
  verify::LibXmlShutdown();  // every thread that canonicalized has ended
  return 0;
}
