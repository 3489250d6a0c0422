// The library loaded the way the programs load it: by path at run time, its
// functions looked up by name, then unloaded. Also the model file named by
// TAVRO_SIM_MODEL, which is read when a fresh copy of the library starts.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "channel/qfc_msglib.h"

namespace {

using namespace std::chrono_literals;

std::string library_path() {
  return std::string(TAVRO_BINARY_DIR) + "/libQFCMsgLib.so";
}

std::atomic<std::uint32_t> g_number{0};
std::atomic<std::uint32_t> g_count{0};
q_msg_free_fn g_free = nullptr;

void handler(int kind, void* message) {
  if (kind == qfc::kDriverErrorKind) return;
  std::uint32_t count;
  std::memcpy(&count, static_cast<char*>(qfc::message_data(message)) + 4, 4);
  std::uint32_t number = qfc::message_number(message);
  g_free(message);
  g_count = count;
  g_number = number;
}

// The library's functions, looked up by name as thread_init does.
struct Bound {
  void* module = nullptr;
  q_msg_init_fn init = nullptr;
  q_register_msg_handler_fn reg = nullptr;
  q_deregister_msg_handler_fn dereg = nullptr;
  q_msg_free_fn free = nullptr;
  q_msg_alloc_fn alloc = nullptr;
  q_send_msg_by_name_fn send = nullptr;
  q_msg_done_fn done = nullptr;

  bool bind() {
    module = dlopen(library_path().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) return false;
    init = control<q_msg_init_fn>("q_msg_init");
    reg = control<q_register_msg_handler_fn>("q_register_msg_handler");
    dereg = control<q_deregister_msg_handler_fn>("q_deregister_msg_handler");
    free = control<q_msg_free_fn>("q_msg_free");
    alloc = control<q_msg_alloc_fn>("q_msg_alloc");
    send = control<q_send_msg_by_name_fn>("q_send_msg_by_name");
    done = control<q_msg_done_fn>("q_msg_done");
    g_free = free;
    return init && reg && dereg && free && alloc && send && done;
  }

  template <typename T>
  T control(const char* name) {
    return reinterpret_cast<T>(dlsym(module, name));
  }

  // One round trip; returns the answer's number, 0 when none came.
  std::uint32_t ask(const char* destination, std::uint32_t handle, std::uint32_t number,
                    std::uint32_t size = 1024) {
    g_number = 0;
    void* data = alloc(size, size, 0);
    if (!data) return 0;
    const std::uint32_t request_id = 1;
    std::memcpy(data, &request_id, sizeof request_id);
    send(destination, handle, number, data);
    for (int i = 0; i < 50 && g_number == 0; ++i) std::this_thread::sleep_for(10ms);
    return g_number;
  }

  // The adapter count, or -1.
  int adapter_count(std::uint32_t handle) {
    return ask("/pvd/fcp0.sif", handle, 0x1E00000A) == 0x9E00000A ? static_cast<int>(g_count.load())
                                                                  : -1;
  }
};

// The controls are looked up by name in tests/unit/channel (channel_fixture.h).
TEST(SimDlopen, ExportsRoundTripThenUnloadCleanly) {
  for (int load = 0; load < 2; ++load) {
    Bound lib;
    ASSERT_TRUE(lib.bind()) << dlerror();
    auto received = lib.control<std::uint32_t (*)()>("sim_requests_received");
    // A fresh load starts from nothing: proof that the last dlclose unloaded it.
    EXPECT_EQ(received(), 0u) << "load " << load;
    ASSERT_NE(lib.init(), 0);
    ASSERT_EQ(lib.reg(0x54410001, "TAVRO", 0, handler), 1);
    EXPECT_EQ(lib.adapter_count(0x54410001), 2);
    if (load == 0) {
      EXPECT_EQ(dlsym(lib.module, "_ZN3sim15response_numberEj"), nullptr) << "internal, hidden";
      EXPECT_STREQ(lib.control<const char* (*)()>("sim_last_error")(), "");
      lib.dereg(0x54410001);
      lib.done();
    } else {
      // Unloaded with a registration and a request still queued: the
      // library stops its thread and frees what it holds (LeakSanitizer).
      lib.control<void (*)(std::uint32_t, int)>("sim_fault_delay")(0x1E00000A, 10000);
      void* data = lib.alloc(1024, 1024, 0);
      lib.send("/pvd/fcp0.sif", 0x54410001, 0x1E00000A, data);
    }
    EXPECT_EQ(dlclose(lib.module), 0);
  }
}

// Runs body in a child process with TAVRO_SIM_MODEL set, so that the library
// is loaded fresh there; returns the child's exit status.
int in_child(const std::string& model, int (*body)(Bound&)) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("TAVRO_SIM_MODEL", model.c_str(), 1);
    Bound lib;
    int status = lib.bind() ? body(lib) : 90;
    std::fflush(stdout);
    _exit(status);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(SimDlopen, ModelFileFromTheEnvironment) {
  int status = in_child(std::string(TAVRO_SOURCE_DIR) + "/sim/models/example.json", [](Bound& lib) {
    if (lib.init() == 0) return 1;
    if (lib.reg(0x54410001, "TAVRO", 0, handler) != 1) return 2;
    if (lib.adapter_count(0x54410001) != 2) return 3;
    if (lib.ask("/pvd/pci1/dev4/fcp0", 0x54410001, 0x14000016, 256) != 0x94000016) return 4;
    // sim_reset goes back to the file's model, not the default one.
    lib.control<int (*)(const char*)>("sim_load_model_json")(R"({"adapters":[]})");
    lib.control<void (*)()>("sim_reset")();
    if (lib.ask("/pvd/pci1/dev4/fcp0", 0x54410001, 0x14000016, 256) != 0x94000016) return 5;
    lib.dereg(0x54410001);
    lib.done();
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(SimDlopen, BadOrMissingModelFileRefusesToStart) {
  std::string path = testing::TempDir() + "/bad-model.json";
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(R"({"adapters":[{"name":"x","node_wwn":"nothex"}]})", f);
  std::fclose(f);
  int status = in_child(path, [](Bound& lib) {
    if (lib.init() != 0) return 1;
    if (lib.reg(0x54410001, "TAVRO", 0, handler) != 0) return 2;
    std::string error = lib.control<const char* (*)()>("sim_last_error")();
    if (error.find("bad-model.json: adapters[0].node_wwn: must be a WWN") == std::string::npos)
      return 3;
    // A good model loaded by the control function makes it usable.
    if (lib.control<int (*)(const char*)>("sim_load_model_json")(R"({"adapters":[]})") != 0)
      return 4;
    if (lib.init() == 0) return 5;
    if (lib.reg(0x54410001, "TAVRO", 0, handler) != 1) return 6;
    if (lib.adapter_count(0x54410001) != 0) return 7;
    lib.done();
    return 0;
  });
  EXPECT_EQ(status, 0);

  status = in_child("/nonexistent/model.json", [](Bound& lib) {
    if (lib.init() != 0) return 1;
    std::string error = lib.control<const char* (*)()>("sim_last_error")();
    return error.find("cannot open the model file /nonexistent/model.json") == std::string::npos
               ? 2
               : 0;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
