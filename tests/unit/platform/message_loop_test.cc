#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(MessageLoop, RunsPostedMessagesInOrderUntilQuit) {
  platform::MessageLoop loop;
  std::string order;
  std::thread poster([&] {
    loop.post([&] { order += 'a'; });
    loop.post([&] { order += 'b'; });
    loop.post([&] { loop.post_quit(5); });
  });
  EXPECT_EQ(loop.run(), 5);
  poster.join();
  EXPECT_EQ(order, "ab");
  EXPECT_FALSE(loop.post([&] { order += 'c'; }));
}

}  // namespace
