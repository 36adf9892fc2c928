#include "platform/os/connection_deadlines.h"
#include "platform/os/socket.h"

namespace platform {

ConnectionDeadlines::ConnectionDeadlines(std::chrono::milliseconds connectionAllowance)
    : allowance(connectionAllowance), thread([this] { Run(); }) {}

ConnectionDeadlines::~ConnectionDeadlines() {
  {
    const MutexLock guard(lock);
    stopping = true;
  }
  changed.NotifyAll();
  thread.join();
}

void ConnectionDeadlines::Opened(const void* connection, int fd) {
  {
    const MutexLock guard(lock);
    connections[connection] = Tracked{fd, Clock::now() + allowance};
    ++changes;
  }
  changed.NotifyAll();
}

void ConnectionDeadlines::Arm(const void* connection) {
  {
    const MutexLock guard(lock);
    const auto found = connections.find(connection);
    if (found == connections.end()) return;
    found->second.deadline = Clock::now() + allowance;
    ++changes;
  }
  changed.NotifyAll();
}

void ConnectionDeadlines::Disarm(const void* connection) {
  const MutexLock guard(lock);
  const auto found = connections.find(connection);
  if (found != connections.end()) found->second.deadline.reset();
}

void ConnectionDeadlines::Closed(const void* connection) {
  const MutexLock guard(lock);
  connections.erase(connection);
}

void ConnectionDeadlines::Run() {
  const MutexLock guard(lock);
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
    const uint64_t seen = changes;
    const auto changedOrStopping = [this, seen]()
                                       REQUIRES(lock) { return stopping || changes != seen; };
    if (next) {
      changed.WaitFor(lock, *next - Clock::now(), changedOrStopping);
    } else {
      changed.Wait(lock, changedOrStopping);
    }
  }
}

}  // namespace platform
