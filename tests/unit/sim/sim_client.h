// A minimal program side for the simulator tests: registers a handler with
// the linked libQFCMsgLib, sends requests and collects what is delivered.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channel/qfc_msglib.h"
#include "platform/guarded_call.h"
#include "sim/layout.h"
#include "sim/sim_control.h"

extern "C" {
unsigned char q_msg_init();
int q_register_msg_handler(std::uint32_t handle, const char* name, int zero,
                           q_msg_handler_fn handler);
void q_deregister_msg_handler(std::uint32_t handle);
void* q_msg_alloc(std::uint32_t size, std::uint32_t size_again, int zero);
void q_send_msg_by_name(const char* destination, std::uint32_t handle, std::uint32_t number,
                        void* data);
void q_msg_free(void* message);
void q_msg_done();
}

namespace simtest {

using namespace std::chrono_literals;

inline std::uint32_t get32(const std::vector<std::uint8_t>& d, std::size_t off) {
  std::uint32_t v = 0;
  std::memcpy(&v, d.data() + off, 4);
  return v;
}
inline void put32(std::uint8_t* d, std::size_t off, std::uint32_t v) {
  std::memcpy(d + off, &v, 4);
}
inline std::string hex_at(const std::vector<std::uint8_t>& d, std::size_t off) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < 8; ++i) {
    s += digits[d[off + i] >> 4];
    s += digits[d[off + i] & 15];
  }
  return s;
}
inline void put_wwn(std::uint8_t* d, std::size_t off, const std::string& hex) {
  for (std::size_t i = 0; i < 8; ++i)
    d[off + i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
}
inline std::string text_at(const std::vector<std::uint8_t>& d, std::size_t off) {
  std::string s;
  for (std::size_t i = off; i < d.size() && d[i] != 0; ++i) s += static_cast<char>(d[i]);
  return s;
}

struct Delivery {
  int kind = 0;
  void* message = nullptr;
  std::thread::id thread;
};

// One inbox per handler slot; the handlers only queue what arrives.
struct Inbox {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<Delivery> items;

  void push(int kind, void* message) {
    std::lock_guard lock(mu);
    items.push_back({kind, message, std::this_thread::get_id()});
    cv.notify_all();
  }
  std::optional<Delivery> pop(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mu);
    if (!cv.wait_for(lock, timeout, [&] { return !items.empty(); })) return std::nullopt;
    Delivery d = items.front();
    items.pop_front();
    return d;
  }
};

inline std::array<Inbox, 3>& inboxes() {
  static std::array<Inbox, 3> boxes;
  return boxes;
}

template <int Slot>
void slot_handler(int kind, void* message) {
  inboxes()[Slot].push(kind, message);
}

inline q_msg_handler_fn handler_for(int slot) {
  static const q_msg_handler_fn handlers[] = {slot_handler<0>, slot_handler<1>, slot_handler<2>};
  return handlers[slot];
}

struct Answer {
  std::uint32_t number = 0;
  std::vector<std::uint8_t> data;
};

struct Event {
  std::uint32_t severity = 0;
  std::string text;
};

// A registration and the requests it sends. Events and driver errors that
// arrive while waiting for an answer are kept in events and driver_errors.
class Client {
 public:
  explicit Client(int slot = 0, std::uint32_t handle = 0x54410000u + 1, const char* name = "TEST")
      : slot_(slot), handle_(handle) {
    registered_ = q_register_msg_handler(handle_, name, 0, handler_for(slot_)) == 1;
  }
  ~Client() {
    if (registered_) q_deregister_msg_handler(handle_);
    drain(0ms);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool registered() const { return registered_; }
  std::uint32_t handle() const { return handle_; }

  // Sends a request and waits for the next delivered message that is not a
  // driver event. Its data area (size bytes) is copied and the message freed.
  std::optional<Answer> request(const std::string& destination, std::uint32_t number,
                                std::uint32_t size,
                                const std::function<void(std::uint8_t*)>& fill = {},
                                std::chrono::milliseconds timeout = 2000ms) {
    if (!send(destination, number, size, fill)) return std::nullopt;
    return wait_answer(size, timeout);
  }

  // Sends a request; where fill leaves them 0, the number echo of a port or
  // node request and the request identifier are stamped as a program would.
  bool send(const std::string& destination, std::uint32_t number, std::uint32_t size,
            const std::function<void(std::uint8_t*)>& fill = {}, bool stamp = true) {
    auto* data = static_cast<std::uint8_t*>(q_msg_alloc(size, size, 0));
    if (!data) return false;
    if (fill) fill(data);
    if (stamp) stamp_fields(number, data, size);
    q_send_msg_by_name(destination.c_str(), handle_, number, data);
    return true;
  }

  void stamp_fields(std::uint32_t number, std::uint8_t* data, std::uint32_t size) {
    auto stamp_at = [&](std::size_t at, std::uint32_t value) {
      std::uint32_t held = 0;
      if (at + 4 > size) return;
      std::memcpy(&held, data + at, 4);
      if (held == 0) std::memcpy(data + at, &value, 4);
    };
    if (sim::is_fcph(number)) stamp_at(sim::kFcphNumberEcho, number);
    const long id_at = sim::request_id_offset(number);
    if (id_at >= 0) stamp_at(static_cast<std::size_t>(id_at), ++ids_);
  }

  std::optional<Answer> wait_answer(std::uint32_t size,
                                    std::chrono::milliseconds timeout = 2000ms) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) return std::nullopt;
      auto d = inboxes()[slot_].pop(left);
      if (!d) return std::nullopt;
      if (keep_side(*d)) continue;
      Answer a;
      a.number = qfc::message_number(d->message);
      auto* data = static_cast<std::uint8_t*>(qfc::message_data(d->message));
      a.data.assign(data, data + size);
      last_thread = d->thread;
      q_msg_free(d->message);
      return a;
    }
  }

  // Collects events and driver errors for a while (answers are freed).
  void drain(std::chrono::milliseconds timeout) {
    while (auto d = inboxes()[slot_].pop(timeout)) {
      if (!keep_side(*d)) q_msg_free(d->message);
    }
  }

  std::vector<Event> events;
  std::vector<std::uint32_t> driver_errors;
  std::thread::id last_thread;

 private:
  bool keep_side(const Delivery& d) {
    if (d.kind == qfc::kDriverErrorKind) {
      driver_errors.push_back(qfc::driver_error_value(d.message));
      return true;
    }
    if (qfc::message_number(d.message) == 0x0300000Bu) {
      auto* data = static_cast<std::uint8_t*>(qfc::message_data(d.message));
      std::vector<std::uint8_t> copy(data, data + 256);
      events.push_back({get32(copy, 0), text_at(copy, 8)});
      q_msg_free(d.message);
      return true;
    }
    return false;
  }

  int slot_;
  std::uint32_t handle_;
  std::uint32_t ids_ = 1000;
  bool registered_ = false;
};

// WWNs of the embedded default model.
inline const std::string kNode0 = "200000E08B010203";
inline const std::string kPort0 = "210000E08B010203";
inline const std::string kNode1 = "200000E08B040506";
inline const std::string kPort1 = "210000E08B040506";
inline const std::string kArray = "2000002037A1B2C3";
inline const std::string kJbod = "20000011C6778899";

// Every test starts from the default model with no faults and an initialised
// library, and checks at the end that nothing the library handed out is left.
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

  // An FCPH request (256 bytes to "fcph") with the WWN at offset 80.
  std::optional<Answer> fcph(Client& c, std::uint32_t number, const std::string& wwn80,
                             const std::function<void(std::uint8_t*)>& more = {}) {
    return c.request("fcph", number, 256, [&](std::uint8_t* d) {
      put32(d, 12, number);
      if (!wwn80.empty()) put_wwn(d, 80, wwn80);
      if (more) more(d);
    });
  }

  // An LXS object request (256 bytes to "fcp").
  std::optional<Answer> lxs(Client& c, std::uint32_t object_id, const std::string& node,
                            const std::string& remote = {}, std::uint32_t index = 0,
                            const std::function<void(std::uint8_t*)>& more = {}) {
    return c.request("fcp", 0x0B00001E, 256, [&](std::uint8_t* d) {
      put32(d, 0, object_id);
      put32(d, 4, 2);
      put32(d, 8, 1);
      put32(d, 12, ++request_id_);
      put32(d, 20, index);
      if (!node.empty()) put_wwn(d, 32, node);
      if (!remote.empty()) put_wwn(d, 40, remote);
      if (more) more(d);
    });
  }

  // A target-support request for a (node, remote node) pair.
  std::optional<Answer> target(Client& c, std::uint32_t number, const std::string& node,
                               const std::string& remote, std::uint32_t value = 0) {
    return c.request("/pvd/fcp0.sif", number, 256, [&](std::uint8_t* d) {
      put32(d, 0, 9);
      put_wwn(d, 4, node);
      put_wwn(d, 12, remote);
      put32(d, 20, value);
    });
  }

  std::uint32_t request_id_ = 0;
};

// The signal a call faults with, caught as the programs' guarded calls catch
// it; 0 when the call returns.
template <typename F>
int fault_of(F&& f) {
  return platform::guarded_call(&f, f) == platform::CallResult::kFaulted
             ? platform::last_fault_signal()
             : 0;
}

}  // namespace simtest
