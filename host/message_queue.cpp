#include "host/message_queue.h"

namespace host {

void MessageQueue::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard lock(mutex);
    posted.push_back(Message{message, wParam, lParam});
  }
  arrived.notify_one();
}

void MessageQueue::PostQuit(int exitCode) {
  {
    std::lock_guard lock(mutex);
    quitPosted = true;
    quitCode = exitCode;
  }
  arrived.notify_one();
}

bool MessageQueue::Get(Message& msg) {
  std::unique_lock lock(mutex);
  arrived.wait(lock, [this] { return !posted.empty() || quitPosted; });
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
