#include "host/message_queue.h"

namespace host {

void MessageQueue::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  {
    const platform::MutexLock lock(mutex);
    posted.push_back(Message{message, wParam, lParam});
  }
  arrived.NotifyOne();
}

void MessageQueue::PostQuit(int exitCode) {
  {
    const platform::MutexLock lock(mutex);
    quitPosted = true;
    quitCode = exitCode;
  }
  arrived.NotifyOne();
}

bool MessageQueue::Get(Message& msg) {
  const platform::MutexLock lock(mutex);
  arrived.Wait(mutex, [this]() REQUIRES(mutex) { return !posted.empty() || quitPosted; });
  if (!posted.empty()) {
    msg = posted.front();
    posted.pop_front();
    return true;
  }
  quitPosted = false;
  msg = Message{WM_QUIT, static_cast<uintptr_t>(quitCode), 0};
  return false;
}

}  // namespace host
