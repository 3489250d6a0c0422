#include "platform/message_loop.h"

namespace platform {

int MessageLoop::run() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return quit_; });
  return code_;
}

void MessageLoop::post_quit(int code) {
  {
    std::lock_guard lock(mutex_);
    if (quit_) return;
    quit_ = true;
    code_ = code;
  }
  wake_.notify_all();
}

}  // namespace platform
