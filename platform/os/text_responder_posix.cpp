#include <chrono>
#include <system_error>
#include <utility>

#include "platform/os/socket.h"
#include "platform/os/text_responder.h"

namespace platform {
namespace {

// A peer that does not take a line within this long is dropped.
constexpr int kSendTimeoutMs = 1000;
constexpr int kBacklog = 16;
constexpr std::chrono::milliseconds kRetryPause{100};

}  // namespace

TextResponderStart TextResponder::Start(const std::string& address, uint16_t port,
                                        std::function<std::string()> text) {
  ListenResult listening = OpenListenSocket(address, port, kBacklog);
  if (listening.failedAt != ListenStep::kDone) {
    const char* step = listening.failedAt == ListenStep::kListen ? "listen" : "bind";
    return std::string(step) + ": " + listening.reason;
  }
  std::unique_ptr<TextResponder> responder(
      new TextResponder(std::move(listening.fd), std::move(text)));
  try {
    responder->thread = std::thread([raw = responder.get()] { raw->Run(); });
  } catch (const std::system_error& error) {
    return std::string("thread: ") + error.what();
  }
  return responder;
}

TextResponder::TextResponder(UniqueFd socket, std::function<std::string()> answer)
    : listenSocket(std::move(socket)), text(std::move(answer)) {}

TextResponder::~TextResponder() {
  stopping.store(true, std::memory_order_release);
  // Shutting the listening socket down makes the pending accept fail, which ends Run.
  ShutdownSocket(listenSocket.get());
  if (thread.joinable()) thread.join();
}

void TextResponder::Run() {
  while (!stopping.load(std::memory_order_acquire)) {
    const UniqueFd connection = AcceptConnection(listenSocket.get());
    if (!connection) {
      // Out of descriptors, say: pause rather than spin while it lasts.
      if (!stopping.load(std::memory_order_acquire)) std::this_thread::sleep_for(kRetryPause);
      continue;
    }
    SetSocketTimeouts(connection.get(), kSendTimeoutMs);
    (void)SendAll(connection.get(), text());
  }
}

uint16_t TextResponder::BoundPort() const { return LocalPort(listenSocket.get()); }

}  // namespace platform
