#include "host/stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <string>
#include <utility>

#include "host/host_texts.h"
#include "platform/base/debug_output.h"
#include "platform/base/log.h"

namespace host {
namespace {

// SIGUSR1 only wakes the waiting thread when it is to end.
constexpr int kWakeSignal = SIGUSR1;

sigset_t WaitedSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, kWakeSignal);
  return signals;
}

}  // namespace

void StopSignals::Block() {
  const sigset_t signals = WaitedSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopSignals::StopSignals(std::function<void(int)> handler)
    : onSignal(std::move(handler)), thread([this] { Wait(); }) {}

StopSignals::~StopSignals() {
  ending = true;
  pthread_kill(thread.native_handle(), kWakeSignal);
  thread.join();
}

void StopSignals::Wait() {
  const sigset_t signals = WaitedSignals();
  while (!ending) {
    int received = 0;
    if (sigwait(&signals, &received) != 0 || received == kWakeSignal) continue;
    if (received == SIGHUP) {
      // The log file was rotated away: write to a new one by the same name.
      const std::string refusal = platform::ReopenDebugChannelFile();
      if (!refusal.empty()) {
        platform::LogAt(platform::LogLevel::kError, texts::kLogReopenFailedFormat, refusal.c_str());
      }
      continue;
    }
    onSignal(received);
  }
}

}  // namespace host
