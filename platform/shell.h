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
#include <memory>
#include <string_view>

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

// Shell is what the host shows a person. Its calls are made from the host's window thread.
class Shell {
 public:
  virtual ~Shell() = default;

  // MessageBox shows a modal box with `title`, `text` (line breaks kept), `icon` and `buttons`,
  // and returns the button chosen once the box is closed. The box has no owner window: the host's
  // window is never shown. Never fails: a backend that cannot ask gives its own fixed answer.
  virtual MessageBoxAnswer MessageBox(std::string_view title, std::string_view text,
                                      MessageBoxIcon icon, MessageBoxButtons buttons) = 0;

  // To come with the desktop backend, for the notification area (not part of the interface yet):
  //   - add, modify (failing when the shell has lost the icon) and delete the icon, with its image
  //     and its tooltip text, and a callback for its mouse events (right button released);
  //   - show the context menu at the cursor and report the chosen command id;
  //   - the open-file dialog of certificate import.
};

// MakeHeadlessShell returns the backend for a run without a display: nobody is there to answer.
// Each box is written to standard error with one write, as
//   "<title>: <text>\n"
// in the log's charset (UTF-8 under a UTF-8 locale, Windows-1251 otherwise; see ChannelText), the
// text's own line breaks kept. When the server log goes elsewhere (QUILMAREND_LOG names a file),
// the box is also written there as one log line "<title>: <text>"; when the log is standard error
// itself, the box is not written twice. The answer is IDNO to a question (MB_YESNO) and IDOK to
// anything else. Never fails; write failures are ignored.
std::unique_ptr<Shell> MakeHeadlessShell();

}  // namespace platform
