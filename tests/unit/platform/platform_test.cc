// The platform layer: calls into a library that faults on purpose, the search
// for run-time libraries, peer addresses and the message loop.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/guarded_call.h"
#include "platform/message_loop.h"
#include "platform/module_loader.h"
#include "platform/net.h"
#include "tests/support/daemon_process.h"

namespace {

using platform::CallResult;
using platform::guarded_call;

// Each test loads the library whose functions fault on purpose.
class GuardedCall : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(module, nullptr); }
  ~GuardedCall() override { platform::unload_module(module); }
  template <typename F>
  F find(const char* name) {
    return reinterpret_cast<F>(platform::module_symbol(module, name));
  }

  void* module = platform::load_module("TavroFaultTest", nullptr);
  int (*add)(int, int) = find<int (*)(int, int)>("fault_add");
  void (*segv)() = find<void (*)()>("fault_segv");
  void (*bus)() = find<void (*)()>("fault_bus");
  int (*recurse)(int) = find<int (*)(int)>("fault_recurse");
};
using GuardedCallDeathTest = GuardedCall;

// SIGFPE blocked on this thread while in scope, as the daemon has it.
struct FpeBlocked {
  FpeBlocked() {
    sigemptyset(&fpe);
    sigaddset(&fpe, SIGFPE);
    pthread_sigmask(SIG_BLOCK, &fpe, &saved);
  }
  ~FpeBlocked() { pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
  sigset_t fpe, saved;
};

std::bitset<NSIG> blocked_signals() {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  std::bitset<NSIG> bits;
  for (int s = 1; s < NSIG; ++s) bits[s] = sigismember(&mask, s) == 1;
  return bits;
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

// A library's own illegal instruction and division by zero are met in
// tests/unit/channel (FaultsInsideTheLibraryAreSurvivedAndLogged).
TEST_F(GuardedCall, EachFaultKindReturnsToTheCallerWithTheMaskRestored) {
  FpeBlocked blocked;
  const std::bitset<NSIG> before = blocked_signals();
  struct {
    const char* name;
    int signal;
    std::function<void()> body;
  } cases[] = {
      {"segv", SIGSEGV, segv},
      {"bus", SIGBUS, bus},
      {"raised segv", SIGSEGV, [] { ::raise(SIGSEGV); }},
      {"raised fpe", SIGFPE, [] { ::raise(SIGFPE); }},
      {"stack overflow", SIGSEGV, [&] { recurse(1 << 30); }},
  };
  for (auto& c : cases) {
    EXPECT_EQ(guarded_call(module, c.body), CallResult::kFaulted) << c.name;
    EXPECT_EQ(platform::last_fault_signal(), c.signal) << c.name;
    EXPECT_EQ(before, blocked_signals()) << c.name;
  }
  bool ran = false;  // a null address is a fault without calling
  EXPECT_EQ(guarded_call(static_cast<void (*)()>(nullptr), [&] { ran = true; }),
            CallResult::kFaulted);
  EXPECT_FALSE(ran);
}

TEST_F(GuardedCall, ThreadsFaultIndependentlyAndNestedCallsReturnToTheirOwnCaller) {
  std::atomic<int> faulted{0}, returned{0};
  auto work = [&](bool fault) {
    for (int i = 0; i < 50; ++i) {
      int sum = 0;
      CallResult r = fault ? guarded_call(segv, segv) : guarded_call(add, [&] { sum = add(i, 1); });
      if (r == CallResult::kFaulted) ++faulted;
      if (r == CallResult::kReturned && sum == i + 1) ++returned;
    }
  };
  std::thread a(work, true), b(work, false);
  a.join();
  b.join();
  EXPECT_EQ(faulted, 50);
  EXPECT_EQ(returned, 50);

  CallResult inner = CallResult::kReturned;
  EXPECT_EQ(guarded_call(add, [&] { inner = guarded_call(segv, segv); }), CallResult::kReturned);
  EXPECT_EQ(inner, CallResult::kFaulted);
}

// The daemon's setup: SIGFPE blocked everywhere and taken by a waiting
// thread (here, the test thread once the call is over). A SIGFPE sent with
// kill() or sigqueue() during a guarded call is a stop request, not a fault,
// and must reach it.
TEST_F(GuardedCall, SentFloatingPointSignalGoesToTheStopPath) {
  for (bool queued : {false, true}) {
    FpeBlocked blocked;
    CallResult r = guarded_call(::getpid, [&] {
      queued ? ::sigqueue(::getpid(), SIGFPE, {}) : ::kill(::getpid(), SIGFPE);
    });
    timespec wait{5, 0};
    EXPECT_EQ(r, CallResult::kReturned) << (queued ? "sigqueue" : "kill");
    EXPECT_EQ(sigtimedwait(&blocked.fpe, nullptr, &wait), SIGFPE) << (queued ? "sigqueue" : "kill");
  }
}

// A thread the library starts inside the call inherits SIGFPE unblocked; a
// stop request that lands there must still reach the thread meant for it
// (here, the test thread, which takes it only after the kill).
TEST_F(GuardedCall, SentFloatingPointSignalLeavesALibraryThreadForTheStopPath) {
  FpeBlocked blocked;
  std::atomic<bool> running{false}, stop{false};
  std::thread library_thread;
  guarded_call(add, [&] {
    library_thread = std::thread([&] {
      running = true;
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  });
  while (!running) std::this_thread::yield();
  ::kill(::getpid(), SIGFPE);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the library thread takes it first
  timespec wait{5, 0};
  int received = sigtimedwait(&blocked.fpe, nullptr, &wait);
  stop = true;
  library_thread.join();
  EXPECT_EQ(received, SIGFPE);
}

TEST_F(GuardedCallDeathTest, FaultsOutsideAGuardedCallKeepTheirDefault) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        guarded_call(segv, segv);
        segv();
      },
      [](int status) { return died_of(status, SIGSEGV); }, "");
  // Not blocked by the caller: a sent SIGFPE keeps its default action even
  // during a guarded call.
  EXPECT_EXIT(
      guarded_call(::getpid, [] { ::kill(::getpid(), SIGFPE); }),
      [](int status) { return died_of(status, SIGFPE); }, "");
}

}  // namespace

namespace {

namespace fs = std::filesystem;
using tavro::testing::binary_dir;

// The same test library is built twice: probe 1 next to the test programs,
// probe 2 in the "probe" directory below them.
int probe(const char* name) {
  int error = 0;
  void* module = platform::load_module(name, &error);
  auto id = reinterpret_cast<int (*)()>(platform::module_symbol(module, "probe_id"));
  int found = module == nullptr ? -error : (id != nullptr ? id() : 0);
  platform::unload_module(module);
  return found;
}

// The test library under a name no other test loads, in a folder of its own.
std::string copy_library(const std::string& name) {
  std::string dir = tavro::testing::make_temp_dir();
  fs::copy_file(binary_dir() + "/libTavroFaultTest.so", dir + "/lib" + name + ".so");
  return dir;
}

TEST(ModuleLoader, PathVariableComesFirstAndSkipsEmptyAndMissingEntries) {
  ::setenv(platform::kLibraryPathVariable,
           ("::/nonexistent/dir:" + binary_dir() + "/probe:").c_str(), 1);
  EXPECT_EQ(probe("TavroFaultTest"), 2);
  ::unsetenv(platform::kLibraryPathVariable);
}

TEST(ModuleLoader, PresenceProbeNeverLoads) {
  ::setenv(platform::kLibraryPathVariable, copy_library("TavroPresenceProbe").c_str(), 1);
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  void* module = platform::load_module("TavroPresenceProbe", nullptr);
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(platform::module_present("TavroPresenceProbe"));
  platform::unload_module(module);
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  ::unsetenv(platform::kLibraryPathVariable);
}

// The system's own search (here: LD_LIBRARY_PATH, read when a program
// starts) is the last resort. Runs this test program again with it set.
TEST(ModuleLoader, FallsBackToTheSystemSearch) {
  if (std::getenv("TAVRO_SYSTEM_SEARCH_CHILD") != nullptr) {
    std::exit(probe("TavroSystemProbe") == 1 ? 0 : 3);
  }
  std::string command = "LD_LIBRARY_PATH='" + copy_library("TavroSystemProbe") +
                        "' TAVRO_SYSTEM_SEARCH_CHILD=1 '" +
                        fs::read_symlink("/proc/self/exe").string() +
                        "' --gtest_filter=ModuleLoader.FallsBackToTheSystemSearch >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace

namespace {

// The request log names a client by this address when its name is unknown.
TEST(Net, PeerAddressOfAnAcceptedConnection) {
  platform::socket_t listener = platform::tcp_socket();
  ASSERT_EQ(platform::bind_any(listener, 0), 0);
  platform::listen_socket(listener, 8);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  platform::socket_t server = platform::accept_connection(listener);
  std::uint8_t ip[4] = {};
  EXPECT_EQ(platform::peer_address(server, ip), 0);
  EXPECT_EQ(ip[0] << 24 | ip[1] << 16 | ip[2] << 8 | ip[3], 0x7F000001);
  ::close(client);
  platform::close_socket(server);
  platform::close_socket(listener);
}

TEST(MessageLoop, RunsPostedMessagesInOrderUntilQuit) {
  platform::MessageLoop loop;
  std::string order;
  std::thread poster([&] {
    loop.post([&] { order += 'a'; });
    loop.post([&] { order += 'b'; });
    loop.post([&] { loop.post_quit(5); });
  });
  EXPECT_EQ(loop.run(), 5);
  poster.join();
  EXPECT_EQ(order, "ab");
  EXPECT_FALSE(loop.post([&] { order += 'c'; }));
}

}  // namespace
