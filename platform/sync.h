// Mutex and manual-reset event with timed waits.
//
// The mutex may be locked in one function and unlocked in another, as long as
// both run on the same thread, and its owner may lock it again (each lock
// needs its own unlock): a message library that answers on the caller's
// thread, inside the send, takes it once more. The event stays signalled until reset, so a
// set that comes before the wait is not lost.
#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

class Mutex {
 public:
  void lock() { mutex_.lock(); }
  bool try_lock() { return mutex_.try_lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

enum class WaitResult { kSignalled, kTimedOut, kFailed };

class ManualResetEvent {
 public:
  void set();
  void reset();
  bool is_set();
  // Waits until the event is set or the time is up. kFailed comes with the
  // system error code in *error.
  WaitResult wait_for(int milliseconds, int* error = nullptr);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

}  // namespace platform
