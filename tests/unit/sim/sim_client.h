// A minimal program side for the simulator tests: registers a handler with
// the linked libQFCMsgLib, sends requests and collects what is delivered.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/layout.h"
#include "sim/sim_control.h"

extern "C" {
unsigned char q_msg_init();
int q_register_msg_handler(std::uint32_t handle, const char* name, int zero, sim::Handler handler);
void q_deregister_msg_handler(std::uint32_t handle);
void* q_msg_alloc(std::uint32_t size, std::uint32_t size_again, int zero);
void q_send_msg_by_name(const char* destination, std::uint32_t handle, std::uint32_t number,
                        void* data);
void q_msg_free(void* message);
void q_msg_done();
}

namespace simtest {

using namespace std::chrono_literals;
using Fill = std::function<void(std::uint8_t*)>;

// In literals, to pin the layout: a delivered message has its number at 80 and
// its data pointer (unaligned) at 84; kind 86 carries a driver error value.
template <typename T>
T read_at(const void* from, std::size_t off) {
  T value;
  std::memcpy(&value, static_cast<const char*>(from) + off, sizeof value);
  return value;
}
inline std::uint32_t number_of(const void* message) {
  return read_at<std::uint32_t>(message, 80);
}
inline std::uint8_t* data_of(const void* message) {
  return read_at<std::uint8_t*>(message, 84);
}
inline constexpr int kDriverError = 86;

inline void put32(std::uint8_t* d, std::size_t off, std::uint32_t v) {
  std::memcpy(d + off, &v, 4);
}
inline void put_wwn(std::uint8_t* d, std::size_t off, const std::string& hex) {
  for (std::size_t i = 0; i < hex.size() / 2; ++i)
    d[off + i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
}

// A copy of an answer's data area; reading past it gives 0xBAD0BAD0.
struct Answer {
  bool arrived = false;
  std::uint32_t number = 0;
  std::vector<std::uint8_t> data;

  explicit operator bool() const { return arrived; }
  std::uint32_t u32(std::size_t off) const {
    return off + 4 <= data.size() ? read_at<std::uint32_t>(data.data(), off) : 0xBAD0BAD0u;
  }
};

// The handler only queues what arrives.
struct Inbox {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::pair<int, void*>> items;
  void push(int kind, void* message) {
    std::lock_guard lock(mu);
    items.emplace_back(kind, message);
    cv.notify_all();
  }
  std::optional<std::pair<int, void*>> pop(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mu);
    if (!cv.wait_for(lock, timeout, [&] { return !items.empty(); })) return std::nullopt;
    auto item = items.front();
    items.pop_front();
    return item;
  }
};

inline Inbox inbox;

// A registration and the requests it sends.
struct Client {
  Client() = default;
  ~Client() {
    if (registered) q_deregister_msg_handler(handle);
    while (wait_answer(0, 0ms)) continue;
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Sends a request and waits for its answer (size bytes of its data).
  Answer request(const std::string& destination, std::uint32_t number, std::uint32_t size,
                 const Fill& fill = {}, std::chrono::milliseconds timeout = 2000ms) {
    return send(destination, number, size, fill) ? wait_answer(size, timeout) : Answer{};
  }

  // Sends a request in a fresh area; stamps the number echo and request
  // identifier where 0, as a program fills them.
  bool send(const std::string& destination, std::uint32_t number, std::uint32_t size,
            const Fill& fill = {}) {
    auto* bytes = static_cast<std::uint8_t*>(q_msg_alloc(size, size, 0));
    if (!bytes) return false;
    if (fill) fill(bytes);
    auto stamp_at = [&](long at, std::uint32_t value) {
      auto off = static_cast<std::size_t>(at);
      if (at >= 0 && off + 4 <= size && read_at<std::uint32_t>(bytes, off) == 0)
        put32(bytes, off, value);
    };
    if (sim::is_fcph(number)) stamp_at(sim::kFcphNumberEcho, number);
    stamp_at(sim::request_id_offset(number), ++ids);
    q_send_msg_by_name(destination.c_str(), handle, number, bytes);
    return true;
  }

  // The next answer that is not a driver event or error, or none.
  Answer wait_answer(std::uint32_t size, std::chrono::milliseconds timeout = 2000ms) {
    while (auto d = inbox.pop(timeout)) {
      if (d->first == kDriverError) continue;
      const std::uint32_t number = number_of(d->second);
      const std::uint8_t* data = data_of(d->second);
      Answer a{true, number, {data, data + size}};
      q_msg_free(d->second);
      if (number != 0x0300000Bu) return a;
    }
    return {};
  }

  const std::uint32_t handle = 0x54410001;
  const bool registered =
      q_register_msg_handler(handle, "TEST", 0, [](int k, void* m) { inbox.push(k, m); }) == 1;
  std::uint32_t ids = 1000;
};

// Port WWNs of the embedded default model.
inline const std::string kPort0 = "210000E08B010203";
inline const std::string kPort1 = "210000E08B040506";

// The default model, no faults; at the end nothing the library handed out left.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_reset();
    ASSERT_NE(q_msg_init(), 0) << sim_last_error();
  }
  void TearDown() override {
    q_msg_done();
    EXPECT_EQ(sim_messages_outstanding(), 0u);
  }

  // A port or node request (256 bytes to "fcph") with the WWN at offset 80.
  static Answer fcph(Client& c, std::uint32_t number, const std::string& wwn80) {
    return c.request("fcph", number, 256, [&](std::uint8_t* d) { put_wwn(d, 80, wwn80); });
  }
};

}  // namespace simtest
