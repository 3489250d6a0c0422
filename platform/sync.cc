#include "platform/sync.h"

#include <chrono>
#include <system_error>

namespace platform {

void ManualResetEvent::set() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    set_ = true;
  }
  changed_.notify_all();
}

void ManualResetEvent::reset() {
  std::lock_guard<std::mutex> hold(mutex_);
  set_ = false;
}

bool ManualResetEvent::is_set() {
  std::lock_guard<std::mutex> hold(mutex_);
  return set_;
}

WaitResult ManualResetEvent::wait_for(int milliseconds, int* error) {
  try {
    std::unique_lock<std::mutex> hold(mutex_);
    bool signalled =
        changed_.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return set_; });
    return signalled ? WaitResult::kSignalled : WaitResult::kTimedOut;
  } catch (const std::system_error& failure) {
    if (error != nullptr) *error = failure.code().value();
    return WaitResult::kFailed;
  }
}

}  // namespace platform
