#include "platform/stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace platform {
namespace {

sigset_t stop_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kStopSignals) sigaddset(&set, s);
  return set;
}

}  // namespace

void block_stop_signals() {
  sigset_t set = stop_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void start_stop_signal_thread(std::function<void(int)> on_stop) {
  std::thread([on_stop = std::move(on_stop)] {
    sigset_t set = stop_set();
    for (;;) {
      int received = 0;
      if (sigwait(&set, &received) == 0) {
        on_stop(received);
        return;
      }
    }
  }).detach();
}

}  // namespace platform
