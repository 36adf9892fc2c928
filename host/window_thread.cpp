#include "host/window_thread.h"

#include <utility>

namespace host {

WindowThread::WindowThread(std::function<void(WindowThread&)> body)
    : thread([this, body = std::move(body)] {
        body(*this);
        const platform::MutexLock lock(mutex);
        started = ended = true;
        changed.NotifyAll();
      }) {}

WindowThread::~WindowThread() { thread.join(); }

void WindowThread::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  queue.Post(message, wParam, lParam);
}

void WindowThread::SignalStarted() {
  const platform::MutexLock lock(mutex);
  started = true;
  changed.NotifyAll();
}

void WindowThread::WaitStarted() {
  const platform::MutexLock lock(mutex);
  changed.Wait(mutex, [this]() REQUIRES(mutex) { return started; });
}

void WindowThread::WaitEnded() {
  const platform::MutexLock lock(mutex);
  changed.Wait(mutex, [this]() REQUIRES(mutex) { return ended; });
}

bool WindowThread::WaitEndedFor(std::chrono::milliseconds limit) {
  const platform::MutexLock lock(mutex);
  return changed.WaitFor(mutex, limit, [this]() REQUIRES(mutex) { return ended; });
}

}  // namespace host
