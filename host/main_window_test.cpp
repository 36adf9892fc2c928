#include "host/main_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace host {
namespace {

// RecordingShell records the window's calls; while `lost` it has lost the icon (a restarted tray
// host), and a modify fails until the icon is added again. Questions are answered No.
struct RecordingShell : platform::Shell {
  platform::MessageBoxAnswer MessageBox(std::string_view title, std::string_view,
                                        platform::MessageBoxIcon,
                                        platform::MessageBoxButtons) override {
    Record("box " + std::string(title));
    return platform::IDNO;
  }
  bool Shell_NotifyIcon(platform::NotifyIconMessage message,
                        const platform::NotifyIconData& data) override {
    const char* const kNames[] = {"add ", "modify ", "delete "};
    Record(kNames[message] + data.tip);
    const std::lock_guard lock(mutex);
    if (message == platform::NIM_ADD) lost = false;
    changed.notify_all();
    return message != platform::NIM_MODIFY || !lost;
  }
  std::vector<std::string> GetOpenFileName(const std::vector<platform::FileFilter>&) override {
    return {};
  }
  void CloseDialogs() override {}
  void Record(const std::string& call) {
    const std::lock_guard lock(mutex);
    calls.push_back(call);
  }
  std::mutex mutex;
  std::condition_variable changed;  // an icon call was made
  std::vector<std::string> calls;   // guarded by mutex
  bool lost = false;                // guarded by mutex
};

TEST(CMainWindow, AboutBoxFromTheMenuAndIconKeptUntilClose) {
  RecordingShell shell;
  MessageQueue queue;
  CMainWindow window(shell, queue);
  ASSERT_TRUE(window.Create());
  queue.Post(WM_COMMAND, ID_ABOUT, 0);  // "О программе" chosen on the icon's menu
  queue.PostQuit(0);
  for (Message msg; queue.Get(msg);) window.Dispatch(msg);
  {
    const std::lock_guard lock(shell.mutex);
    EXPECT_EQ(shell.calls,
              (std::vector<std::string>{"add Quilmarend 3,1,0,10",
                                        "box \xce \xef\xf0\xee\xe3\xf0\xe0\xec\xec\xe5"}));
    shell.calls.clear();
    shell.lost = true;
  }
  // The refresh thread adds a lost icon again within about a second.
  {
    std::unique_lock lock(shell.mutex);
    EXPECT_TRUE(
        shell.changed.wait_for(lock, std::chrono::seconds(10), [&] { return !shell.lost; }));
  }
  window.Dispatch({WM_COMMAND, ID_EXIT, 0});  // answered No: the window stays
  EXPECT_TRUE(window.Running());
  window.Dispatch({WM_CLOSE, 0, 0});
  EXPECT_FALSE(window.Running());
  // The close removes the icon last, after the refresh thread has ended: it never adds it again.
  const std::lock_guard lock(shell.mutex);
  ASSERT_GE(shell.calls.size(), 4u);
  EXPECT_EQ(shell.calls[0], "modify Quilmarend 3,1,0,10");
  EXPECT_EQ(shell.calls[1], "add Quilmarend 3,1,0,10");
  EXPECT_EQ(shell.calls.rbegin()[1], "box Quilmarend");
  EXPECT_EQ(shell.calls.back(), "delete Quilmarend 3,1,0,10");
}

}  // namespace
}  // namespace host
