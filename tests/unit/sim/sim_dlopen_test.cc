// The library loaded as the programs load it, by path, then unloaded; and a
// bad model file named by TAVRO_SIM_MODEL.
// Only the declarations of sim_client.h are used: the library is not linked.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

#include "tests/support/daemon_process.h"
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using ::testing::HasSubstr;
constexpr std::uint32_t kHandle = 0x54410001;
std::atomic<std::uint32_t> g_number{0};
std::atomic<std::uint32_t> g_count{0};
decltype(&q_msg_free) g_free = nullptr;

void handler(int kind, void* message) {
  if (kind == kDriverError) return;
  const std::uint32_t number = number_of(message);
  g_count = read_at<std::uint32_t>(data_of(message), 4);
  g_free(message);
  g_number = number;
}

// The library's functions, looked up by name as thread_init does.
struct Bound {
  void* module =
      dlopen((std::string(TAVRO_BINARY_DIR) + "/libQFCMsgLib.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  bool complete = module != nullptr;

  template <typename F>
  F find(const char* name) {
    auto f = module ? reinterpret_cast<F>(dlsym(module, name)) : nullptr;
    complete = complete && f;
    return f;
  }
#define BOUND(prefix, name) decltype(&::prefix##name) name = find<decltype(name)>(#prefix #name)
  BOUND(q_, msg_init);
  BOUND(q_, register_msg_handler);
  BOUND(q_, deregister_msg_handler);
  decltype(&::q_msg_free) msg_free = g_free = find<decltype(&::q_msg_free)>("q_msg_free");
  BOUND(q_, msg_alloc);
  BOUND(q_, send_msg_by_name);
  BOUND(q_, msg_done);
  BOUND(sim_, requests_received);
  BOUND(sim_, last_error);
  BOUND(sim_, fault_delay);
  BOUND(sim_, load_model_json);
#undef BOUND

  // One round trip (request identifier 1 at 0); the answer's number, 0 when none came.
  std::uint32_t ask(const char* destination, std::uint32_t number, std::uint32_t size = 1024) {
    g_number = 0;
    auto* data = static_cast<std::uint8_t*>(msg_alloc(size, size, 0));
    if (!data) return 0;
    put32(data, 0, 1);
    send_msg_by_name(destination, kHandle, number, data);
    for (int i = 0; i < 1000 && g_number == 0; ++i) std::this_thread::sleep_for(10ms);
    return g_number;
  }

  // The adapter count, or -1.
  int adapter_count() {
    return ask("/pvd/fcp0.sif", 0x1E00000A) == 0x9E00000A ? static_cast<int>(g_count.load()) : -1;
  }
};

// The other tests link the library and call its controls directly.
TEST(SimDlopen, ExportsRoundTripThenUnloadCleanly) {
  for (int load = 0; load < 2; ++load) {
    Bound lib;
    ASSERT_TRUE(lib.complete) << dlerror();
    // A fresh load starts from nothing: proof that the last dlclose unloaded it.
    EXPECT_EQ(lib.requests_received(), 0u) << "load " << load;
    ASSERT_NE(lib.msg_init(), 0);
    ASSERT_EQ(lib.register_msg_handler(kHandle, "TAVRO", 0, handler), 1);
    EXPECT_EQ(lib.adapter_count(), 2);
    if (load == 0) {
      EXPECT_EQ(dlsym(lib.module, "_ZN3sim15response_numberEj"), nullptr) << "internal, hidden";
      EXPECT_STREQ(lib.last_error(), "");
      lib.deregister_msg_handler(kHandle);
      lib.msg_done();
    } else {
      // Unloaded with a registration and a request still queued: the
      // library stops its thread and frees what it holds (LeakSanitizer).
      lib.fault_delay(0x1E00000A, 10000);
      lib.send_msg_by_name("/pvd/fcp0.sif", kHandle, 0x1E00000A, lib.msg_alloc(1024, 1024, 0));
    }
    EXPECT_EQ(dlclose(lib.module), 0);
  }
}

// Runs body in a child process with TAVRO_SIM_MODEL set, so that the library
// is loaded fresh there; the child prints its failures and fails the test.
void in_child(const std::string& model, void (*body)(Bound&)) {
  if (pid_t pid = fork(); pid == 0) {
    setenv("TAVRO_SIM_MODEL", model.c_str(), 1);
    Bound lib;
    EXPECT_TRUE(lib.complete) << dlerror();
    if (lib.complete) body(lib);
    std::fflush(stdout);
    _exit(testing::Test::HasFailure() ? 1 : 0);
  } else {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed: " << status;
  }
}

TEST(SimDlopen, BadOrMissingModelFileRefusesToStart) {
  const std::string path = tavro::testing::make_temp_dir() + "/bad-model.json";
  std::ofstream(path) << R"({"adapters":[{"name":"x","node_wwn":"nothex"}]})";
  in_child(path, [](Bound& lib) {
    EXPECT_EQ(lib.msg_init(), 0);
    EXPECT_EQ(lib.register_msg_handler(kHandle, "TAVRO", 0, handler), 0);
    EXPECT_THAT(lib.last_error(), HasSubstr("bad-model.json: adapters[0].node_wwn: must be a WWN"));
    // A good model loaded by the control function makes it usable.
    ASSERT_EQ(lib.load_model_json(R"({"adapters":[]})"), 0);
    ASSERT_NE(lib.msg_init(), 0);
    ASSERT_EQ(lib.register_msg_handler(kHandle, "TAVRO", 0, handler), 1);
    EXPECT_EQ(lib.adapter_count(), 0);
    lib.msg_done();
  });
  in_child("/nonexistent/model.json", [](Bound& lib) {
    EXPECT_EQ(lib.msg_init(), 0);
    EXPECT_THAT(lib.last_error(), HasSubstr("cannot open the model file /nonexistent/model.json"));
  });
}

}  // namespace
}  // namespace simtest
