// Stand-in for the main thread's window message loop: the main thread parks
// here until something posts the quit message with an exit code.
#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

class MessageLoop {
 public:
  // Blocks until post_quit; returns the code it was given.
  int run();
  void post_quit(int code);

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  int code_ = 0;
};

}  // namespace platform
