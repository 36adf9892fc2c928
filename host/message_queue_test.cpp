#include "host/message_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace host {
namespace {

TEST(MessageQueue, DeliversAnotherThreadsMessagesInOrderThenQuit) {
  MessageQueue queue;
  std::thread poster([&queue] {
    for (int i = 0; i < 1000; ++i) queue.Post(i % 2 ? WM_CLOSE : WM_COMMAND, i, -i);
    queue.PostQuit(3);
  });
  Message msg;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(queue.Get(msg)) << i;
    ASSERT_EQ(msg.message, i % 2 ? 0x0010u : 0x0111u) << i;
    ASSERT_EQ(msg.wParam, static_cast<uintptr_t>(i));
    ASSERT_EQ(msg.lParam, -i);
  }
  EXPECT_FALSE(queue.Get(msg));
  EXPECT_EQ(msg.message, 0x0012u);
  EXPECT_EQ(static_cast<int>(msg.wParam), 3);
  poster.join();
}

TEST(MessageQueue, QuitComesAfterEarlierPostsAndIsTakenOnce) {
  MessageQueue queue;
  queue.Post(WM_COMMAND, 32774, 0);
  queue.PostQuit(-1);
  queue.Post(WM_CLOSE, 0, 0);  // posted after the quit, still taken before it
  Message msg;
  ASSERT_TRUE(queue.Get(msg));
  EXPECT_EQ(msg.wParam, 32774u);
  ASSERT_TRUE(queue.Get(msg));
  EXPECT_EQ(msg.message, 0x0010u);
  ASSERT_FALSE(queue.Get(msg));
  EXPECT_EQ(static_cast<int>(msg.wParam), -1);
  queue.Post(WM_COMMAND, 1, 2);  // the quit flag is gone once taken
  ASSERT_TRUE(queue.Get(msg));
  EXPECT_EQ(msg.lParam, 2);
}

}  // namespace
}  // namespace host
