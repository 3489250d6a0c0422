#include "platform/guarded_call.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "platform/module_loader.h"
#include "tests/support/daemon_process.h"

namespace {

using platform::CallResult;
using platform::guarded_call;

struct FaultLibrary {
  ~FaultLibrary() { platform::unload_module(module); }

  static void* load() {
    int error = 0;
    return platform::load_module("TavroFaultTest", &error);
  }
  template <typename F>
  F find(const char* name) {
    return reinterpret_cast<F>(platform::module_symbol(module, name));
  }

  void* module = load();
  int (*add)(int, int) = find<int (*)(int, int)>("fault_add");
  void (*segv)() = find<void (*)()>("fault_segv");
  void (*ill)() = find<void (*)()>("fault_ill");
  void (*fpe)() = find<void (*)()>("fault_fpe");
  void (*bus)(const char*) = find<void (*)(const char*)>("fault_bus");
  int (*recurse)(int) = find<int (*)(int)>("fault_recurse");
  void (*raise_signal)(int) = find<void (*)(int)>("fault_raise");
  void (*kill_self)(int) = find<void (*)(int)>("fault_kill_self");
  void (*queue_self)(int) = find<void (*)(int)>("fault_queue_self");
};

sigset_t current_mask() {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return mask;
}

bool same_mask(const sigset_t& a, const sigset_t& b) {
  for (int s = 1; s < NSIG; ++s) {
    if (sigismember(&a, s) != sigismember(&b, s)) return false;
  }
  return true;
}

// Under the sanitizers their own handler reports a fault and exits with a
// failure status instead of the signal's default action.
bool died_of(int status, int signal) {
#if defined(__SANITIZE_ADDRESS__)
  (void)signal;
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#else
  return WIFSIGNALED(status) && WTERMSIG(status) == signal;
#endif
}

TEST(GuardedCall, NullAddressIsAFaultWithoutCalling) {
  bool ran = false;
  void (*missing)() = nullptr;
  EXPECT_EQ(guarded_call(missing, [&] { ran = true; }), CallResult::kFaulted);
  EXPECT_FALSE(ran);
}

TEST(GuardedCall, EachFaultKindReturnsToTheCallerWithTheMaskRestored) {
  FaultLibrary lib;
  ASSERT_NE(lib.module, nullptr);
  std::string scratch = tavro::testing::make_temp_dir() + "/empty";
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGFPE);
  sigset_t saved;
  pthread_sigmask(SIG_BLOCK, &blocked, &saved);
  sigset_t before = current_mask();

  struct Case {
    const char* name;
    int signal;
    std::function<void()> body;
  } cases[] = {
      {"segv", SIGSEGV, [&] { lib.segv(); }},
      {"ill", SIGILL, [&] { lib.ill(); }},
      {"fpe", SIGFPE, [&] { lib.fpe(); }},
      {"bus", SIGBUS, [&] { lib.bus(scratch.c_str()); }},
      {"raised segv", SIGSEGV, [&] { lib.raise_signal(SIGSEGV); }},
      {"raised fpe", SIGFPE, [&] { lib.raise_signal(SIGFPE); }},
      {"stack overflow", SIGSEGV, [&] { lib.recurse(1 << 30); }},
  };
  for (auto& c : cases) {
    EXPECT_EQ(guarded_call(lib.module, c.body), CallResult::kFaulted) << c.name;
    EXPECT_EQ(platform::last_fault_signal(), c.signal) << c.name;
    EXPECT_TRUE(same_mask(before, current_mask())) << c.name;
  }
  int sum = 0;
  EXPECT_EQ(guarded_call(lib.add, [&] { sum = lib.add(1, 1); }), CallResult::kReturned);
  EXPECT_EQ(sum, 2);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

TEST(GuardedCall, ThreadsFaultIndependently) {
  FaultLibrary lib;
  ASSERT_NE(lib.module, nullptr);
  std::atomic<int> faulted{0};
  std::atomic<int> returned{0};
  auto work = [&](bool fault) {
    for (int i = 0; i < 50; ++i) {
      int sum = 0;
      CallResult r = fault ? guarded_call(lib.segv, [&] { lib.segv(); })
                           : guarded_call(lib.add, [&] { sum = lib.add(i, 1); });
      if (r == CallResult::kFaulted) ++faulted;
      if (r == CallResult::kReturned && sum == i + 1) ++returned;
    }
  };
  std::thread a(work, true);
  std::thread b(work, false);
  a.join();
  b.join();
  EXPECT_EQ(faulted, 50);
  EXPECT_EQ(returned, 50);
}

TEST(GuardedCall, NestedCallsReturnToTheirOwnCaller) {
  FaultLibrary lib;
  ASSERT_NE(lib.module, nullptr);
  CallResult inner = CallResult::kReturned;
  CallResult outer =
      guarded_call(lib.add, [&] { inner = guarded_call(lib.segv, [&] { lib.segv(); }); });
  EXPECT_EQ(inner, CallResult::kFaulted);
  EXPECT_EQ(outer, CallResult::kReturned);
}

// The daemon's setup: SIGFPE blocked everywhere and taken by a waiting
// thread. A SIGFPE sent with kill() or sigqueue() during a guarded call is
// a stop request, not a fault, and must reach the waiting thread.
TEST(GuardedCall, SentFloatingPointSignalGoesToTheStopPath) {
  FaultLibrary lib;
  ASSERT_NE(lib.module, nullptr);
  for (bool queued : {false, true}) {
    sigset_t fpe;
    sigemptyset(&fpe);
    sigaddset(&fpe, SIGFPE);
    sigset_t saved;
    pthread_sigmask(SIG_BLOCK, &fpe, &saved);
    std::atomic<int> received{0};
    std::thread waiter([&] {
      int signal = 0;
      if (sigwait(&fpe, &signal) == 0) received = signal;
    });
    CallResult r = guarded_call(lib.kill_self, [&] {
      if (queued) {
        lib.queue_self(SIGFPE);
      } else {
        lib.kill_self(SIGFPE);
      }
    });
    waiter.join();
    EXPECT_EQ(r, CallResult::kReturned) << (queued ? "sigqueue" : "kill");
    EXPECT_EQ(received, SIGFPE) << (queued ? "sigqueue" : "kill");
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  }
}

// A thread the library starts inside the call inherits SIGFPE unblocked; a
// stop request that lands there must still reach the thread meant for it
// (here, the test thread, which takes it only after the kill).
TEST(GuardedCall, SentFloatingPointSignalLeavesALibraryThreadForTheStopPath) {
  FaultLibrary lib;
  ASSERT_NE(lib.module, nullptr);
  sigset_t fpe;
  sigemptyset(&fpe);
  sigaddset(&fpe, SIGFPE);
  sigset_t saved;
  pthread_sigmask(SIG_BLOCK, &fpe, &saved);
  std::atomic<bool> running{false}, stop{false};
  std::thread library_thread;
  guarded_call(lib.add, [&] {
    library_thread = std::thread([&] {
      running = true;
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  });
  while (!running) std::this_thread::yield();
  ::kill(::getpid(), SIGFPE);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the library thread takes it first
  timespec wait{5, 0};
  int received = sigtimedwait(&fpe, nullptr, &wait);
  stop = true;
  library_thread.join();
  EXPECT_EQ(received, SIGFPE);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

TEST(GuardedCallDeathTest, FaultsOutsideAGuardedCallKeepTheirDefault) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FaultLibrary lib;
  ASSERT_NE(lib.module, nullptr);
  auto fault_after_guard = [&] {
    guarded_call(lib.segv, [&] { lib.segv(); });
    lib.segv();
    std::exit(0);
  };
  EXPECT_EXIT(
      fault_after_guard(), [](int status) { return died_of(status, SIGSEGV); }, "");

  // Not blocked by the caller: a sent SIGFPE keeps its default action even
  // during a guarded call.
  auto sent_fpe = [&] {
    guarded_call(lib.kill_self, [&] { lib.kill_self(SIGFPE); });
    std::exit(0);
  };
  EXPECT_EXIT(
      sent_fpe(), [](int status) { return died_of(status, SIGFPE); }, "");
}

}  // namespace
