#include "host/stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <utility>

namespace host {
namespace {

// SIGUSR1 only wakes the waiting thread when it is to end.
constexpr int kWakeSignal = SIGUSR1;

sigset_t WaitedSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
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
    onSignal(received);
  }
}

}  // namespace host
