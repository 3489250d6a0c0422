#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(MessageLoop, RunReturnsTheFirstQuitCode) {
  platform::MessageLoop loop;
  std::thread poster([&] {
    loop.post_quit(3);
    loop.post_quit(7);
  });
  EXPECT_EQ(loop.run(), 3);
  poster.join();
  EXPECT_EQ(loop.run(), 3);  // once quit, it stays quit
}

}  // namespace
