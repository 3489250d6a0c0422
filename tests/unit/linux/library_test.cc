// The Linux library loaded by path, its functions looked up by name, as the
// programs do: which requests the channel checks let through, and how an
// answer arrives.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include "tests/support/daemon_process.h"

namespace {

struct Answer {
  std::uint32_t number = 0;
  std::uint8_t* data = nullptr;
  std::thread::id thread;
  void* message = nullptr;
};
std::mutex g_mu;
std::condition_variable g_cv;
std::optional<Answer> g_answer;
void (*g_free)(void*) = nullptr;

extern "C" void handler(int kind, void* message) {
  Answer a;
  std::memcpy(&a.number, static_cast<char*>(message) + 80, 4);
  std::memcpy(&a.data, static_cast<char*>(message) + 84, sizeof a.data);
  a.thread = std::this_thread::get_id();
  a.message = message;
  EXPECT_EQ(kind, 1);
  std::lock_guard lock(g_mu);
  g_answer = a;
  g_cv.notify_all();
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's allocator
#endif

// Bytes the program holds from the allocator now.
std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

std::uint32_t get32(const std::uint8_t* p, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, p + at, 4);
  return v;
}

}  // namespace

// The library loaded by path with the sysfs root given, its functions looked up by name.
struct Loaded {
  explicit Loaded(const std::string& root)
      : lib((setenv("TAVRO_SYSFS_ROOT", root.c_str(), 1), dlopen(kPath, RTLD_NOW | RTLD_LOCAL))) {
    g_free = fn<decltype(g_free)>("q_msg_free");
  }
  template <typename F>
  F fn(const char* name) {
    return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
  }
  static constexpr const char* kPath = TAVRO_BINARY_DIR "/linux/libQFCMsgLib.so";
  void* lib;
  unsigned char (*init)() = fn<decltype(init)>("q_msg_init");
  int (*reg)(std::uint32_t, const char*, int,
             void (*)(int, void*)) = fn<decltype(reg)>("q_register_msg_handler");
  void (*dereg)(std::uint32_t) = fn<decltype(dereg)>("q_deregister_msg_handler");
  void* (*alloc)(std::uint32_t, std::uint32_t, int) = fn<decltype(alloc)>("q_msg_alloc");
  void (*send)(const char*, std::uint32_t, std::uint32_t,
               void*) = fn<decltype(send)>("q_send_msg_by_name");
  void (*done)() = fn<decltype(done)>("q_msg_done");
};

TEST(LinuxLibrary, ChannelChecksAndDelivery) {
  Loaded l(TAVRO_FIXTURES "/dual_port");
  void* lib = l.lib;
  ASSERT_NE(lib, nullptr) << dlerror();
  auto [init, reg, dereg, alloc, send, done] =
      std::tuple(l.init, l.reg, l.dereg, l.alloc, l.send, l.done);
  ASSERT_TRUE(init && reg && dereg && alloc && send && g_free && done);
  EXPECT_EQ(dlsym(lib, "sim_reset"), nullptr);
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(reg(0x54410001, "TAVRO", 0, handler), 1);
  EXPECT_EQ(reg(0x54410001, "TAVRO", 0, handler), 0);  // the handle is taken
  EXPECT_EQ(alloc(256, 512, 0), nullptr);
  EXPECT_EQ(alloc(256, 256, 1), nullptr);

  struct Row {
    const char* destination;
    std::uint32_t number, size, echo12, id0;
    std::uint32_t response;  // 0: not answered
    std::size_t status_at;
    std::uint32_t status;
  } rows[] = {
      {"fcph", 0x15000046, 256, 0x15000046, 0, 0x15000047, 16, 0},
      {"fcph", 0x15000046, 256, 0x15000044, 0, 0, 0, 0},  // number not repeated at 12
      {"fcph", 0x15000046, 512, 0x15000046, 0, 0, 0, 0},  // not its layout's size
      {"/pvd/fcp0.sif", 0x1E00000A, 1024, 0, 7, 0x9E00000A, 8, 0},
      {"/pvd/fcp0.sif", 0x1E00000A, 1024, 0, 0, 0, 0, 0},  // no request identifier
      {"/pvd/fcp0.sif", 0x1E00000A, 1023, 0, 7, 0, 0, 0},
      {"pci0000:3b/dev00", 0x14000016, 256, 0, 8, 0x94000016, 252, 0},
      {"gone", 0x14000016, 256, 0, 9, 0x94000016, 252, 2},
      {"fcph", 0x1500001A, 256, 0x1500001A, 0, 0x1500001B, 16, 7},
      {"fcp", 0x0B00001F, 256, 0x77, 0, 0x8B00001F, 252, 0},  // unknown: back unchanged
  };
  for (const Row& r : rows) {
    auto* data = static_cast<std::uint8_t*>(alloc(r.size, r.size, 0));
    ASSERT_NE(data, nullptr);
    std::memcpy(data + 12, &r.echo12, 4);
    std::memcpy(data, &r.id0, 4);
    std::unique_lock lock(g_mu);
    g_answer.reset();
    send(r.destination, 0x54410001, r.number, data);
    bool got = g_cv.wait_for(lock, std::chrono::milliseconds(r.response ? 5000 : 300),
                             [] { return g_answer.has_value(); });
    ASSERT_EQ(got, r.response != 0) << std::hex << r.number;
    if (!got) continue;
    EXPECT_EQ(g_answer->number, r.response);
    EXPECT_EQ(g_answer->data, data);  // in the request's own area
    EXPECT_NE(g_answer->thread, std::this_thread::get_id());
    EXPECT_EQ(get32(data, 0), r.id0);  // identifiers kept
    EXPECT_EQ(get32(data, r.status_at), r.status) << std::hex << r.number;
    g_free(g_answer->message);
  }
  // The data area goes with its message: requests do not grow the heap.
  const std::size_t before = heap_in_use();
  for (int i = 0; i < 2000; ++i) {
    auto* data = static_cast<std::uint8_t*>(alloc(256, 256, 0));
    const std::uint32_t count = 0x15000046;
    std::memcpy(data + 12, &count, 4);
    std::unique_lock lock(g_mu);
    g_answer.reset();
    send("fcph", 0x54410001, count, data);
    ASSERT_TRUE(g_cv.wait_for(lock, std::chrono::seconds(5), [] { return g_answer.has_value(); }));
    g_free(g_answer->message);
  }
  EXPECT_LT(heap_in_use(), before + 64 * 1024);
  g_free(nullptr);  // ignored
  dereg(0x54410001);
  done();
  EXPECT_EQ(dlclose(lib), 0);
}

// A statistics read still blocked in the kernel (here: a FIFO without a
// writer) when the program unloads the library returns later into the
// library's code, which must still be there.
TEST(LinuxLibrary, AReadBlockedAtUnloadEndsWithoutHarm) {
  namespace fs = std::filesystem;
  const std::string root = tavro::testing::make_temp_dir() + "/sys";
  fs::copy(TAVRO_FIXTURES "/dual_port", root,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  const std::string fifo = root + "/class/fc_host/host3/statistics/tx_frames";
  fs::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  if (dlopen(Loaded::kPath, RTLD_NOW | RTLD_NOLOAD)) GTEST_SKIP() << "loaded by an earlier test";
  Loaded l(root);
  ASSERT_NE(l.lib, nullptr) << dlerror();
  auto [init, reg, alloc, send, done] = std::tuple(l.init, l.reg, l.alloc, l.send, l.done);
  ASSERT_EQ(init(), 1);
  ASSERT_EQ(reg(0x54410001, "TAVRO", 0, handler), 1);
  auto* data = static_cast<std::uint8_t*>(alloc(256, 256, 0));
  const std::uint32_t tx_frames = 0x1500002E;
  const std::uint8_t wwn[8] = {0x21, 0x00, 0x00, 0x24, 0xFF, 0x3A, 0x5B, 0x10};
  std::memcpy(data + 12, &tx_frames, 4);
  std::memcpy(data + 80, wwn, 8);
  std::unique_lock lock(g_mu);
  g_answer.reset();
  send("fcph", 0x54410001, tx_frames, data);
  ASSERT_TRUE(g_cv.wait_for(lock, std::chrono::seconds(5), [] { return g_answer.has_value(); }));
  EXPECT_EQ(get32(data, 16), 6u);  // not available while the read waits
  g_free(g_answer->message);
  lock.unlock();
  done();
  EXPECT_EQ(dlclose(l.lib), 0);
  int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // the waiting read returns now
  ASSERT_GE(writer, 0) << "no read was waiting";
  close(writer);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}
