#include "host/window_thread.h"

#include <utility>

namespace host {

WindowThread::WindowThread(std::function<void(WindowThread&)> body)
    : thread([this, body = std::move(body)] {
        body(*this);
        const std::lock_guard lock(mutex);
        started = ended = true;
        changed.notify_all();
      }) {}

WindowThread::~WindowThread() { thread.join(); }

void WindowThread::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  queue.Post(message, wParam, lParam);
}

void WindowThread::SignalStarted() {
  const std::lock_guard lock(mutex);
  started = true;
  changed.notify_all();
}

void WindowThread::WaitStarted() {
  std::unique_lock lock(mutex);
  changed.wait(lock, [this] { return started; });
}

void WindowThread::WaitEnded() {
  std::unique_lock lock(mutex);
  changed.wait(lock, [this] { return ended; });
}

bool WindowThread::WaitEndedFor(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, limit, [this] { return ended; });
}

}  // namespace host
