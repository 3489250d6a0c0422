#include "platform/sync.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using platform::WaitResult;

TEST(ManualResetEvent, StaysSetUntilResetAndWakesAWaiterWhenSetFromAnotherThread) {
  platform::ManualResetEvent event;
  EXPECT_EQ(event.wait_for(10), WaitResult::kTimedOut);
  event.set();
  EXPECT_EQ(event.wait_for(0), WaitResult::kSignalled);
  EXPECT_EQ(event.wait_for(0), WaitResult::kSignalled);
  event.reset();
  EXPECT_EQ(event.wait_for(0), WaitResult::kTimedOut);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    event.set();
  });
  EXPECT_EQ(event.wait_for(10000), WaitResult::kSignalled);
  setter.join();
}

}  // namespace
