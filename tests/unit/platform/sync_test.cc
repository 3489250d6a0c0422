#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using platform::ManualResetEvent;
using platform::WaitResult;

TEST(ManualResetEvent, StaysSetUntilReset) {
  ManualResetEvent event;
  EXPECT_EQ(event.wait_for(10), WaitResult::kTimedOut);
  event.set();
  EXPECT_EQ(event.wait_for(0), WaitResult::kSignalled);
  EXPECT_EQ(event.wait_for(0), WaitResult::kSignalled);
  event.reset();
  EXPECT_EQ(event.wait_for(0), WaitResult::kTimedOut);
}

TEST(ManualResetEvent, SetFromAnotherThreadWakesTheWaiter) {
  ManualResetEvent event;
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    event.set();
  });
  EXPECT_EQ(event.wait_for(10000), WaitResult::kSignalled);
  setter.join();
}

// The rendezvous takes the mutex in one function and gives it up in another;
// a second thread is held out in between.
void take(platform::Mutex& m) {
  m.lock();
}
void give(platform::Mutex& m) {
  m.unlock();
}

TEST(Mutex, LockedInOneFunctionUnlockedInAnother) {
  platform::Mutex mutex;
  take(mutex);
  std::atomic<bool> got{true};
  std::thread other([&] { got = mutex.try_lock(); });
  other.join();
  EXPECT_FALSE(got);
  give(mutex);
  std::thread again([&] {
    got = mutex.try_lock();
    if (got) mutex.unlock();
  });
  again.join();
  EXPECT_TRUE(got);
}

}  // namespace
