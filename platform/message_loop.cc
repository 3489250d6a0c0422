#include "platform/message_loop.h"

#include <utility>

namespace platform {

int MessageLoop::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (quit_) break;
    std::function<void()> message = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    message();
    lock.lock();
  }
  std::deque<std::function<void()>> dropped;
  dropped.swap(queue_);
  lock.unlock();  // a dropped message may post again when it is destroyed
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

bool MessageLoop::post(std::function<void()> message) {
  {
    std::lock_guard lock(mutex_);
    if (quit_) return false;
    queue_.push_back(std::move(message));
  }
  wake_.notify_all();
  return true;
}

}  // namespace platform
