// Stand-in for the main thread's window message loop: the main thread runs
// the messages posted to it until something posts the quit message with an
// exit code.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace platform {

class MessageLoop {
 public:
  // Runs posted messages until post_quit; returns the code it was given.
  int run();
  void post_quit(int code);
  // Queues a message for run(); false once the loop has quit (the message
  // is then dropped). Messages still queued at the quit are dropped.
  bool post(std::function<void()> message);

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool quit_ = false;
  int code_ = 0;
};

}  // namespace platform
