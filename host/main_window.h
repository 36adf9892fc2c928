#pragma once

// File: CMainWindow, the program's only window. It is never shown; the host's window thread
// hands it the WM_COMMAND and WM_CLOSE messages of its queue, and ends its loop once the window's
// running flag is false. Closing the window ends the window thread, and with it the server.
//
// Example (the window thread's loop):
//   host::CMainWindow window(shell);
//   window.Create();
//   host::Message msg;
//   while (window.HasWindow() && queue.Get(msg)) {
//     if (msg.message == host::WM_COMMAND || msg.message == host::WM_CLOSE) window.Dispatch(msg);
//     if (!window.Running()) break;
//   }

#include <atomic>
#include <string>

#include "host/message_queue.h"
#include "platform/shell.h"

namespace host {

// The commands of the window's context menu (WM_COMMAND's wParam).
inline constexpr uintptr_t ID_EXIT = 32774;
inline constexpr uintptr_t ID_ABOUT = 32780;

// kVersionText is the window's tooltip and the about box's text.
inline constexpr const char* kVersionText = "Quilmarend 3,1,0,10";

class CMainWindow {
 public:
  // The window's boxes go through `shell`, which must outlive the window.
  explicit CMainWindow(platform::Shell& shell);
  CMainWindow(const CMainWindow&) = delete;
  CMainWindow& operator=(const CMainWindow&) = delete;

  // Create creates the hidden window. Returns HasWindow().
  bool Create();

  // HasWindow is true from Create until the window closes.
  bool HasWindow() const { return hasWindow; }

  // Running is true until the window closes; read by the host's loop.
  bool Running() const { return running; }

  // Dispatch handles `msg`: WM_COMMAND runs OnCommand, WM_CLOSE runs OnClose; others are ignored.
  void Dispatch(const Message& msg);

 private:
  // OnCommand runs the menu command `id`: ID_EXIT asks whether to close and closes on Yes;
  // ID_ABOUT shows the version, one box at a time. Other ids do nothing.
  void OnCommand(uintptr_t id);
  // OnClose closes the window without asking: running becomes false.
  void OnClose();

  platform::Shell& shell;
  std::string versionText;  // set when the window is created
  bool hasWindow = false;
  bool aboutOpen = false;
  std::atomic<bool> running{true};
};

}  // namespace host
