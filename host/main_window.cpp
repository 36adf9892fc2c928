#include "host/main_window.h"

#include "platform/cp1251.h"

namespace host {
namespace {

using namespace platform::literals;

constexpr const char* kExitQuestion =
    "Вы уверены, что хотите закрыть Quilmarend?\n\n"
    "При закрытии программы проверка подписи будет не доступна!"_cp1251;
constexpr const char* kAboutTitle = "О программе"_cp1251;

}  // namespace

CMainWindow::CMainWindow(platform::Shell& shell) : shell(shell) {}

bool CMainWindow::Create() {
  versionText = kVersionText;
  hasWindow = true;
  return hasWindow;
}

void CMainWindow::Dispatch(const Message& msg) {
  if (!hasWindow) return;
  if (msg.message == WM_COMMAND) OnCommand(msg.wParam);
  if (msg.message == WM_CLOSE) OnClose();
}

void CMainWindow::OnCommand(uintptr_t id) {
  if (id == ID_EXIT) {
    if (shell.MessageBox("Quilmarend", kExitQuestion, platform::MB_ICONQUESTION,
                         platform::MB_YESNO) == platform::IDYES) {
      OnClose();
    }
  } else if (id == ID_ABOUT && !aboutOpen) {
    aboutOpen = true;
    shell.MessageBox(kAboutTitle, versionText, platform::MB_ICONINFORMATION, platform::MB_OK);
    aboutOpen = false;
  }
}

void CMainWindow::OnClose() {
  running = false;
  hasWindow = false;
}

}  // namespace host
