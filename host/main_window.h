#pragma once

// File: CMainWindow, the program's only window. It is never shown: what a person sees of it is
// the notification-area icon with its tooltip and its context menu (about, install certificate,
// exit). The host's window thread hands it every message of its queue, and ends its loop once the
// window's running flag is false. Closing the window ends the window thread, and with it the
// server.
//
// Example (the window thread's loop):
//   host::CMainWindow window(shell, queue);
//   window.Create();
//   host::Message msg;
//   while (window.HasWindow() && queue.Get(msg)) {
//     window.Dispatch(msg);
//     if (!window.Running()) break;
//   }

#include <atomic>
#include <string>
#include <thread>

#include "host/message_queue.h"
#include "platform/base/mutex.h"
#include "platform/os/shell.h"

namespace host {

// The commands of the window's context menu (WM_COMMAND's wParam).
inline constexpr uintptr_t ID_EXIT = 32774;
inline constexpr uintptr_t ID_INSTALL_CERTIFICATE = 32778;
inline constexpr uintptr_t ID_ABOUT = 32780;

class CMainWindow {
 public:
  // The window's boxes and icon go through `windowShell`; its messages arrive on `threadQueue`,
  // the window thread's, which the icon's callbacks are posted to. Both must outlive the window.
  CMainWindow(platform::Shell& windowShell, MessageQueue& threadQueue);
  // Ends the refresh thread if the window was not closed.
  ~CMainWindow();
  CMainWindow(const CMainWindow&) = delete;
  CMainWindow& operator=(const CMainWindow&) = delete;

  // Create creates the hidden window (OnInitDialog: the icon is added and the refresh thread
  // started). Returns HasWindow().
  bool Create();

  // HasWindow is true from Create until the window closes.
  bool HasWindow() const { return hasWindow; }

  // Running is true until the window closes; read by the host's loop.
  bool Running() const { return running; }

  // Dispatch handles `msg`: WM_COMMAND (a menu item chosen on the icon) and WM_CLOSE; others are
  // ignored.
  void Dispatch(const Message& msg);

 private:
  void OnInitDialog();
  // OnCommand runs a menu command: ID_EXIT asks and closes on Yes, ID_INSTALL_CERTIFICATE
  // imports certificates, ID_ABOUT shows the version, one box at a time. Other ids do nothing.
  void OnCommand(uintptr_t id);
  // OnClose closes the window without asking: the refresh thread ends, the icon goes, running
  // becomes false.
  void OnClose();
  // ModalBox shows a box and, while it is open, goes on handling the window's messages, as a
  // modal box's own message loop does.
  platform::MessageBoxAnswer ModalBox(std::string_view title, std::string_view text,
                                      platform::MessageBoxIcon icon,
                                      platform::MessageBoxButtons buttons);
  void Refresh();
  void StopRefresh();

  platform::Shell& shell;
  MessageQueue& queue;
  platform::NotifyIconData icon;  // written before the refresh thread starts, then only read
  std::string versionText;        // the icon's tooltip and the about box's text
  bool hasWindow = false;
  bool aboutOpen = false;
  std::atomic<bool> running{true};
  platform::Mutex refreshMutex;   // orders the wake-up against the refresh thread's sleep
  platform::CondVar refreshWake;  // OnClose wakes the refresh thread's sleep
  std::thread refreshThread;
};

}  // namespace host
