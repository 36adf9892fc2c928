#include "host/message_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace host {
namespace {

TEST(MessageQueue, TakesPostsInOrderThenTheQuitMessageOnce) {
  MessageQueue queue;
  std::thread poster([&queue] {
    for (int i = 0; i < 1000; ++i) queue.Post(i % 2 ? WM_CLOSE : WM_COMMAND, i, -i);
    queue.PostQuit(3);
  });
  Message msg;
  for (int i = 0; i < 1000; ++i)
    ASSERT_TRUE(queue.Get(msg) && msg.message == (i % 2 ? 0x0010u : 0x0111u) &&
                msg.wParam == static_cast<uintptr_t>(i) && msg.lParam == -i)
        << i;
  poster.join();
  queue.Post(WM_COMMAND, 32774, 0);  // posted after the quit, still taken before it
  EXPECT_TRUE(queue.Get(msg) && msg.wParam == 32774u);
  EXPECT_FALSE(queue.Get(msg));
  EXPECT_TRUE(msg.message == 0x0012u && msg.wParam == 3u);
  queue.Post(WM_CLOSE, 0, 7);  // the quit message was taken; the queue goes on
  ASSERT_TRUE(queue.Get(msg));
  EXPECT_EQ(msg.lParam, 7);
}

}  // namespace
}  // namespace host
