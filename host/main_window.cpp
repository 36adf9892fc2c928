#include "host/main_window.h"

#include <chrono>
#include <future>

#include "host/cert_import.h"
#include "host/host_texts.h"
#include "platform/base/names.h"

namespace host {
namespace {

constexpr auto kRefreshPeriod = std::chrono::milliseconds(1000);

// The context menu (menu 129).
std::vector<platform::MenuItem> ContextMenu() {
  return {{ID_ABOUT, texts::kMenuAbout},
          {ID_INSTALL_CERTIFICATE, texts::kMenuInstallCertificate},
          {0, ""},
          {ID_EXIT, texts::kMenuExit}};
}

}  // namespace

CMainWindow::CMainWindow(platform::Shell& windowShell, MessageQueue& threadQueue)
    : shell(windowShell), queue(threadQueue) {}

CMainWindow::~CMainWindow() { StopRefresh(); }

bool CMainWindow::Create() {
  hasWindow = true;
  OnInitDialog();
  return hasWindow;
}

void CMainWindow::OnInitDialog() {
  versionText = std::string(platform::kProgramName) + ' ' + platform::kVersion;
  icon.tip = versionText.substr(0, 127);
  icon.menu = ContextMenu();
  icon.post = [&queue = queue](uint32_t message, uintptr_t wParam, intptr_t lParam) {
    queue.Post(message, wParam, lParam);
  };
  shell.Shell_NotifyIcon(platform::NIM_ADD, icon);
  refreshThread = std::thread([this] { Refresh(); });
}

void CMainWindow::Refresh() {
  const platform::MutexLock lock(refreshMutex);
  while (running) {
    if (refreshWake.WaitFor(refreshMutex, kRefreshPeriod, [this] { return !running; })) break;
    // An icon the shell has lost (a restarted tray host) is added again.
    if (!shell.Shell_NotifyIcon(platform::NIM_MODIFY, icon)) {
      shell.Shell_NotifyIcon(platform::NIM_ADD, icon);
    }
  }
}

void CMainWindow::StopRefresh() {
  {
    const platform::MutexLock lock(refreshMutex);
    running = false;
  }
  refreshWake.NotifyAll();
  if (refreshThread.joinable()) refreshThread.join();
}

void CMainWindow::Dispatch(const Message& msg) {
  if (!hasWindow) return;
  if (msg.message == WM_COMMAND) OnCommand(msg.wParam);
  if (msg.message == WM_CLOSE) OnClose();
}

void CMainWindow::OnCommand(uintptr_t id) {
  if (id == ID_EXIT) {
    if (ModalBox(platform::kProgramName, texts::kExitQuestion, platform::MB_ICONQUESTION,
                 platform::MB_YESNO) == platform::IDYES) {
      OnClose();
    }
  } else if (id == ID_INSTALL_CERTIFICATE) {
    ImportCertificates(shell);
  } else if (id == ID_ABOUT && !aboutOpen) {
    aboutOpen = true;
    ModalBox(texts::kAboutTitle, versionText, platform::MB_ICONINFORMATION, platform::MB_OK);
    aboutOpen = false;
  }
}

void CMainWindow::OnClose() {
  if (!hasWindow) return;
  // The refresh thread has ended before the icon goes, so it cannot add the icon again.
  StopRefresh();
  shell.Shell_NotifyIcon(platform::NIM_DELETE, icon);
  hasWindow = false;
}

platform::MessageBoxAnswer CMainWindow::ModalBox(std::string_view title, std::string_view text,
                                                 platform::MessageBoxIcon boxIcon,
                                                 platform::MessageBoxButtons buttons) {
  std::promise<platform::MessageBoxAnswer> answer;
  std::future<platform::MessageBoxAnswer> answered = answer.get_future();
  std::thread box([&] {
    answer.set_value(shell.MessageBox(title, text, boxIcon, buttons));
    queue.Post(WM_NULL, 0, 0);  // wakes the loop below
  });
  Message msg;
  bool quit = false;
  while (!quit && answered.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    quit = !queue.Get(msg);
    if (!quit) Dispatch(msg);
  }
  box.join();
  // The quit message belongs to the outer loop, as a modal loop that meets it posts it again.
  if (quit) queue.PostQuit(static_cast<int>(msg.wParam));
  return answered.get();
}

}  // namespace host
