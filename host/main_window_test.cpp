#include "host/main_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host {
namespace {

// RecordingShell records what the window asks of the shell; it has lost the icon once `lost` is
// set, until the icon is added again.
class RecordingShell : public platform::Shell {
 public:
  platform::MessageBoxAnswer MessageBox(std::string_view title, std::string_view,
                                        platform::MessageBoxIcon,
                                        platform::MessageBoxButtons) override {
    Record("box " + std::string(title));
    return platform::IDNO;
  }
  bool Shell_NotifyIcon(platform::NotifyIconMessage message,
                        const platform::NotifyIconData& data) override {
    const std::lock_guard lock(mutex);
    calls.push_back(std::string(message == platform::NIM_ADD      ? "add "
                                : message == platform::NIM_MODIFY ? "modify "
                                                                  : "delete ") +
                    data.tip);
    if (message == platform::NIM_ADD) lost = false;
    return message != platform::NIM_MODIFY || !lost;
  }
  uint32_t TrackPopupMenu(const std::vector<platform::MenuItem>& items) override {
    Record("menu " + std::to_string(items.size()));
    return ID_ABOUT;
  }
  std::vector<std::string> GetOpenFileName(const std::vector<platform::FileFilter>&) override {
    return {};
  }
  void Record(const std::string& call) {
    const std::lock_guard lock(mutex);
    calls.push_back(call);
  }
  std::vector<std::string> Calls() {
    const std::lock_guard lock(mutex);
    return calls;
  }
  std::mutex mutex;
  std::vector<std::string> calls;  // guarded by mutex
  bool lost = false;               // guarded by mutex
};

// Drain dispatches every message waiting in `queue` to `window`.
void Drain(MessageQueue& queue, CMainWindow& window) {
  queue.PostQuit(0);
  for (Message msg; queue.Get(msg);) window.Dispatch(msg);
}

TEST(CMainWindow, MenuOnRightButtonReleaseOnlyAndIconKeptUntilClose) {
  RecordingShell shell;
  MessageQueue queue;
  CMainWindow window(shell, queue);
  ASSERT_TRUE(window.Create());
  const uint32_t tray = RegisterWindowMessage(kTrayMessageName);
  for (const auto& [icon, mouse] : {std::pair{kTrayIconId, platform::WM_LBUTTONUP},
                                    {kTrayIconId, platform::WM_LBUTTONDBLCLK},
                                    {kTrayIconId + 1, platform::WM_RBUTTONUP},
                                    {kTrayIconId, platform::WM_RBUTTONUP}}) {
    window.Dispatch({tray, icon, mouse});
  }
  Drain(queue, window);  // the menu's choice, "О программе", arrives as WM_COMMAND
  EXPECT_EQ(shell.Calls(), (std::vector<std::string>{"add Quilmarend 3,1,0,10", "menu 4",
                                                     "box \xce \xef\xf0\xee\xe3\xf0\xe0\xec\xec\xe5"}));

  // A shell that lost the icon gets it again from the refresh thread within about a second.
  {
    const std::lock_guard lock(shell.mutex);
    shell.calls.clear();
    shell.lost = true;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  window.Dispatch({ID_EXIT, 0, 0});  // no WM_COMMAND: ignored
  window.Dispatch({WM_COMMAND, ID_EXIT, 0});  // answered No: the window stays
  EXPECT_TRUE(window.Running());
  window.Dispatch({WM_CLOSE, 0, 0});
  EXPECT_FALSE(window.Running());
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  // The close removes the icon last: the refresh thread never adds it again.
  std::vector<std::string> calls = shell.Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls.back(), "delete Quilmarend 3,1,0,10");
  EXPECT_EQ(calls[calls.size() - 2], "box Quilmarend");
  calls.resize(2);
  EXPECT_EQ(calls, (std::vector<std::string>{"modify Quilmarend 3,1,0,10", "add Quilmarend 3,1,0,10"}));
}

}  // namespace
}  // namespace host
