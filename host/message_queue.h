#pragma once

// The window thread's message queue: what PostThreadMessage, PostQuitMessage and GetMessage give a
// Windows thread, for the host's loop
//
//   host::Message msg;
//   while (queue.Get(msg)) Dispatch(msg);
//   return static_cast<int>(msg.wParam);   // the exit code given to PostQuit
//
// Any thread may post; one thread (the owner) takes. Posted messages come out in the order they
// were posted. As on Windows, the quit message is no queue entry but a flag: Get hands it out only
// once every message posted before it has been taken, and then clears it.

#include <cstdint>
#include <deque>

#include "platform/base/mutex.h"

namespace host {

// Windows message ids, with their Windows values.
inline constexpr uint32_t WM_NULL = 0x0000;
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_COMMAND = 0x0111;

// Message is the part of a Windows MSG that a posted message carries.
struct Message {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class MessageQueue {
 public:
  MessageQueue() = default;
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Post appends a message (PostThreadMessage). Never blocks beyond a short lock; never fails.
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam);

  // PostQuit asks the owner's loop to end with `exitCode` (PostQuitMessage): the next Get that
  // finds no posted message left returns the quit message. A second PostQuit before that replaces
  // the exit code.
  void PostQuit(int exitCode);

  // Get waits without time limit for the next message and stores it in `msg`. Returns true for a
  // posted message and false for the quit message, whose wParam then holds the exit code.
  bool Get(Message& msg);

 private:
  platform::Mutex mutex;
  platform::CondVar arrived;
  std::deque<Message> posted GUARDED_BY(mutex);
  bool quitPosted GUARDED_BY(mutex) = false;
  int quitCode GUARDED_BY(mutex) = 0;
};

}  // namespace host
