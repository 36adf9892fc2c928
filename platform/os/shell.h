#pragma once

// The shell as the host shows it to a person: what Windows' message boxes (and, later, the
// notification-area icon, its menu and the open-file dialog) give the program. Two backends share
// this interface: the headless one below, for runs without a display, and a desktop one loaded
// when a display is present. Texts are Windows-1251, as every text of the program.
//
// Example:
//   std::unique_ptr<platform::Shell> shell = platform::MakeHeadlessShell();
//   if (shell->MessageBox("Quilmarend", text, platform::MB_ICONQUESTION, platform::MB_YESNO) ==
//       platform::IDYES) { ... }

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The buttons of a box (MessageBox's uType button bits), with their Windows values.
enum MessageBoxButtons : uint32_t {
  MB_OK = 0x0,
  MB_YESNO = 0x4,
};

// The icon of a box (MessageBox's uType icon bits), with their Windows values; kNoIcon for a plain
// box.
enum MessageBoxIcon : uint32_t {
  kNoIcon = 0x0,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
};

// The button a person chose (MessageBox's result), with its Windows value.
enum MessageBoxAnswer : int {
  IDOK = 1,
  IDCANCEL = 2,
  IDYES = 6,
  IDNO = 7,
};

// Shell_NotifyIcon's operations, with their Windows values.
enum NotifyIconMessage : uint32_t {
  NIM_ADD = 0,
  NIM_MODIFY = 1,
  NIM_DELETE = 2,
};

// WM_COMMAND, which a backend posts when a menu item of the icon is chosen.
inline constexpr uint32_t kCommandMessage = 0x0111;

// MenuItem is one item of a context menu: a command id and its text (Windows-1251); command 0
// is a separator.
struct MenuItem {
  uint32_t command = 0;
  std::string text;
};

// NotifyIconData is the part of Windows' NOTIFYICONDATA a backend uses, plus what stands for the
// owner window: `post` delivers a message to the window (PostMessage), from any thread.
struct NotifyIconData {
  std::string tip;  // the tooltip, Windows-1251, at most 127 bytes
  // The context menu. The tray host shows it itself (StatusNotifierItem, or the library's own
  // icon without one); the backend posts WM_COMMAND with the chosen item's command.
  std::vector<MenuItem> menu;
  std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)> post;
};

// FileFilter is one entry of an open-file dialog's filter list: "Certificates (*.cer;*.crt)" and
// "*.cer;*.crt" (Windows-1251).
struct FileFilter {
  std::string description;
  std::string patterns;
};

// Shell is what the host shows a person. Its calls are made from the host's window thread, apart
// from Shell_NotifyIcon, which the icon's refresh thread also calls.
class Shell {
 public:
  virtual ~Shell() = default;

  // MessageBox shows a modal box with `title`, `text` (line breaks kept), `icon` and `buttons`,
  // and returns the button chosen once the box is closed. The box has no owner window: the host's
  // window is never shown. Never fails: a backend that cannot ask gives its own fixed answer.
  virtual MessageBoxAnswer MessageBox(std::string_view title, std::string_view text,
                                      MessageBoxIcon icon, MessageBoxButtons buttons) = 0;

  // Shell_NotifyIcon adds, modifies or deletes the program's notification-area icon. Returns
  // false when the shell refuses: no notification area, an icon added twice, or a modify or delete
  // of an icon the shell does not hold (after the shell restarted, say).
  virtual bool Shell_NotifyIcon(NotifyIconMessage message, const NotifyIconData& data) = 0;

  // GetOpenFileName shows a multi-select open-file dialog over `filters` (the first one
  // selected) for existing files, and returns their full paths in the order given; empty when the
  // dialog was cancelled or could not be shown.
  virtual std::vector<std::string> GetOpenFileName(const std::vector<FileFilter>& filters) = 0;

  // CloseDialogs closes every box, menu and dialog open now, as if a person had chosen No, Cancel
  // or nothing: the calls that show them return. Boxes, menus and dialogs asked for afterwards
  // return the same at once, since the program is stopping. Callable from any thread.
  virtual void CloseDialogs() = 0;
};

// MakeHeadlessShell returns the backend for a run without a display: nobody is there to answer.
// Each box is written to standard error with one write, as
//   "<title>: <text>\n"
// in the log's charset (UTF-8 under a UTF-8 locale, Windows-1251 otherwise; see ChannelText), the
// text's own line breaks kept. When the server log goes elsewhere (QUILMAREND_LOG names a file),
// the box is also written there as one log line "<title>: <text>"; when the log is standard error
// itself, the box is not written twice. The answer is IDNO to a question (MB_YESNO) and IDOK to
// anything else. Never fails; write failures are ignored. There is no notification area
// (Shell_NotifyIcon returns false), no menu is shown (0) and no file is chosen (empty).
std::unique_ptr<Shell> MakeHeadlessShell();

// ShellLog writes `line` (ASCII) as a notice of the server log. The desktop backend's library
// exports `extern "C" Shell* QuilmarendDesktopShell(ShellLog log)`, which MakeShell calls with
// one, so that the library can say what it cannot do (show the tray icon, say) without a log of
// its own.
using ShellLog = void (*)(const char* line);

// MakeShell returns the desktop backend (libquilmarend-desktop.so beside the executable: a tray
// icon, GTK boxes and dialogs) when a display is present (DISPLAY or WAYLAND_DISPLAY set) and
// the library loads and opens it; otherwise, after one log line saying why when a display was
// named, the headless backend.
std::unique_ptr<Shell> MakeShell();

}  // namespace platform
