#include "platform/os/connection_deadlines.h"
#include "platform/os/socket.h"

namespace platform {

ConnectionDeadlines::ConnectionDeadlines(std::chrono::milliseconds connectionAllowance)
    : allowance(connectionAllowance), thread([this] { Run(); }) {}

ConnectionDeadlines::~ConnectionDeadlines() {
  {
    const std::lock_guard guard(lock);
    stopping = true;
  }
  changed.notify_all();
  thread.join();
}

void ConnectionDeadlines::Opened(const void* connection, int fd) {
  {
    const std::lock_guard guard(lock);
    connections[connection] = Tracked{fd, Clock::now() + allowance};
  }
  changed.notify_all();
}

void ConnectionDeadlines::Arm(const void* connection) {
  {
    const std::lock_guard guard(lock);
    const auto found = connections.find(connection);
    if (found == connections.end()) return;
    found->second.deadline = Clock::now() + allowance;
  }
  changed.notify_all();
}

void ConnectionDeadlines::Disarm(const void* connection) {
  const std::lock_guard guard(lock);
  const auto found = connections.find(connection);
  if (found != connections.end()) found->second.deadline.reset();
}

void ConnectionDeadlines::Closed(const void* connection) {
  const std::lock_guard guard(lock);
  connections.erase(connection);
}

void ConnectionDeadlines::Run() {
  std::unique_lock guard(lock);
  while (!stopping) {
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> next;
    for (auto& [connection, tracked] : connections) {
      if (!tracked.deadline) continue;
      if (*tracked.deadline <= now) {
        // The descriptor is still the connection's: its owner forgets it (under this lock)
        // before closing it.
        ShutdownSocket(tracked.fd);
        tracked.deadline.reset();
      } else if (!next || *tracked.deadline < *next) {
        next = tracked.deadline;
      }
    }
    if (next) {
      changed.wait_until(guard, *next);
    } else {
      changed.wait(guard);
    }
  }
}

}  // namespace platform
