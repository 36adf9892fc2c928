#include "host/message_queue.h"

#include <map>
#include <string>

namespace host {

uint32_t RegisterWindowMessage(std::string_view name) {
  static std::mutex mutex;
  static std::map<std::string, uint32_t, std::less<>> registered;
  const std::lock_guard lock(mutex);
  const auto found = registered.find(name);
  if (found != registered.end()) return found->second;
  const uint32_t id = 0xC000 + static_cast<uint32_t>(registered.size());
  registered.emplace(std::string(name), id);
  return id;
}

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
