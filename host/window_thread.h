#pragma once

// File: the host's window thread: a thread with a message queue of its own, which other threads
// post to (PostThreadMessage by the thread's id) and wait on (WaitForSingleObject on its handle).
// The thread runs the body it is given; the body takes its messages from Queue().
//
// Example:
//   auto thread = std::make_shared<host::WindowThread>([](host::WindowThread& self) {
//     self.SignalStarted();
//     host::Message msg;
//     while (self.Queue().Get(msg) && msg.message != host::WM_CLOSE) {}
//   });
//   thread->WaitStarted();
//   thread->Post(host::WM_CLOSE);
//   thread->WaitEnded();

#include <chrono>
#include <functional>
#include <thread>

#include "host/message_queue.h"
#include "platform/base/mutex.h"

namespace host {

class WindowThread {
 public:
  // Starts the thread running `body`.
  explicit WindowThread(std::function<void(WindowThread&)> body);
  // Waits for the thread to end.
  ~WindowThread();
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  // Post appends a message to the thread's queue. A message posted after the body has returned
  // is never taken, as one posted to a thread that has ended.
  void Post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

  // Queue is the thread's queue; only the thread itself takes from it.
  MessageQueue& Queue() { return queue; }

  // SignalStarted is called by the body once it serves, or once it has given up; WaitStarted
  // waits for that or for the body's return, whichever comes first.
  void SignalStarted();
  void WaitStarted();

  // WaitEnded waits without time limit for the body to return. Any number of threads may wait.
  void WaitEnded();
  // WaitEndedFor waits at most `limit` for the body to return; true when it has.
  bool WaitEndedFor(std::chrono::milliseconds limit);

 private:
  MessageQueue queue;
  platform::Mutex mutex;
  platform::CondVar changed;
  bool started GUARDED_BY(mutex) = false;
  bool ended GUARDED_BY(mutex) = false;
  std::thread thread;  // last: starts once the members above exist
};

}  // namespace host
