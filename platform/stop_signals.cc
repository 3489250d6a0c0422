#include "platform/stop_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

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

void ignore_broken_pipes() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
}

void fill_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int null = open("/dev/null", O_RDWR);
    if (null < 0) return;
    if (null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

}  // namespace platform
