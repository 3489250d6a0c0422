// libQFCMsgLib.so for Linux hosts: the seven q_ library functions, one
// delivery thread that answers each request from the kernel's Fibre Channel
// transport (sysfs) and hands the answer to the registration's handler, and
// while any registration holds, one watcher thread whose changes go to every
// registration as driver events.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "linux/driver.h"
#include "linux/layout.h"
#include "linux/watch/watcher.h"
#include "sysfs/model.h"

namespace qlinux {
namespace {

constexpr std::uint32_t kMaxAlloc = 1u << 20;
constexpr std::uint32_t kDriverEvent = 0x0300000B;  // unsolicited: severity at 0, text at 8
constexpr std::size_t kEventSize = 256;

struct Request {
  std::uint32_t handle = 0;
  std::uint32_t number = 0;
  std::string destination;
  void* data = nullptr;
  bool unsolicited = false;  // a driver event: delivered as it is, not answered
};

// Who holds a data area: the program until it sends it, then the library.
struct AreaInfo {
  std::size_t size = 0;
  bool sent = false;
};

class Library {
 public:
  Library() : model_(sysfs::default_root()), driver_(model_) {}
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  unsigned char msg_init() {
    std::lock_guard lock(mu_);
    start_worker();
    return 1;
  }

  int register_handler(std::uint32_t handle, const char* name, Handler handler) {
    std::lock_guard lock(mu_);
    if (!handler || !name || registrations_.count(handle)) return 0;
    registrations_[handle] = handler;
    start_worker();
    return kRegistered;
  }

  // The watcher runs while any registration holds. Started and stopped
  // outside mu_: its thread takes mu_ to queue an event.
  void update_watcher() {
    std::lock_guard watch_lock(watch_mu_);
    bool wanted;
    {
      std::lock_guard lock(mu_);
      wanted = !registrations_.empty() && running_;
    }
    if (wanted && !watcher_) {
      // It keeps model_ fresh: requests answer from its latest look.
      watcher_ = std::make_unique<watch::Watcher>(
          model_, [this](const watch::Change& c) { send_event(c); });
    } else if (!wanted) {
      watcher_.reset();  // stops and joins it
    }
  }

  // No delivery to this registration after the return, unless its own
  // handler deregisters (it runs on the delivery thread).
  void deregister_handler(std::uint32_t handle) {
    deregister_locked(handle);
    update_watcher();
  }

  void deregister_locked(std::uint32_t handle) {
    std::unique_lock lock(mu_);
    registrations_.erase(handle);
    idle_.wait(lock, [&] {
      return !(delivering_ == handle && delivering_thread_ != std::this_thread::get_id());
    });
  }

  void* msg_alloc(std::uint32_t size, std::uint32_t size_again, int zero) {
    if (size != size_again || zero != 0 || size == 0 || size > kMaxAlloc) return nullptr;
    void* area = std::calloc(1, size);
    if (!area) return nullptr;
    std::lock_guard lock(mu_);
    areas_[area] = AreaInfo{size, false};
    return area;
  }

  // The checks a driver makes before it takes a request: the area is one of
  // ours with its layout's size (any size for a number it does not know,
  // which comes back unchanged), a port or node request repeats its number
  // at 12, and a request with an identifier carries one. A request that
  // fails them is freed and never answered.
  void send(const char* destination, std::uint32_t handle, std::uint32_t number, void* data) {
    std::lock_guard lock(mu_);
    auto it = areas_.find(data);
    if (it == areas_.end() || it->second.sent) return;
    it->second.sent = true;
    Area area{static_cast<std::uint8_t*>(data), it->second.size};
    const long id_at = request_id_offset(number);
    const std::size_t size = request_size(number);
    if (!destination || (size != 0 && area.size != size) ||
        (is_fcph(number) && area.get32(kFcphNumberEcho) != number) ||
        (id_at >= 0 && area.get32(static_cast<std::size_t>(id_at)) == 0)) {
      free_area(data);
      return;
    }
    queue_.push_back(Request{handle, number, destination, data});
    start_worker();
    work_.notify_all();
  }

  void msg_free(void* message) {
    std::lock_guard lock(mu_);
    if (!messages_.erase(message)) return;
    free_area(data_of(message));
    std::free(message);
  }

  void msg_done() {
    stop_worker();
    update_watcher();
    std::lock_guard lock(mu_);
    registrations_.clear();
    for (const Request& r : queue_) free_area(r.data);
    queue_.clear();
  }

  // At unload: everything still held is released.
  void shutdown() {
    msg_done();
    std::lock_guard lock(mu_);
    for (void* m : messages_) std::free(m);
    messages_.clear();
    for (auto& [area, info] : areas_) std::free(area);
    areas_.clear();
  }

 private:
  // One driver event message per registration, queued behind the answers.
  void send_event(const watch::Change& change) {
    std::lock_guard lock(mu_);
    if (!running_) return;
    for (const auto& [handle, handler] : registrations_) {
      void* data = std::calloc(1, kEventSize);
      if (!data) continue;
      areas_[data] = AreaInfo{kEventSize, true};
      Area area{static_cast<std::uint8_t*>(data), kEventSize};
      area.put32(0, change.severity);
      area.put_text(8, change.text);
      queue_.push_back(Request{handle, kDriverEvent, "", data, true});
    }
    work_.notify_all();
  }

  static void* data_of(void* message) {
    void* data;
    std::memcpy(&data, static_cast<unsigned char*>(message) + kDataOffset, sizeof data);
    return data;
  }

  void free_area(void* data) {
    if (areas_.erase(data)) std::free(data);
  }

  void start_worker() {
    if (running_) return;
    running_ = true;
    worker_ = std::thread([this, g = ++generation_] { run(g); });
  }

  void stop_worker() {
    std::thread worker;
    {
      std::lock_guard lock(mu_);
      running_ = false;
      worker = std::move(worker_);
    }
    work_.notify_all();
    if (!worker.joinable()) return;
    if (worker.get_id() == std::this_thread::get_id())
      worker.detach();  // q_msg_done from inside a handler
    else
      worker.join();
  }

  void run(std::uint64_t generation) {
    std::unique_lock lock(mu_);
    while (running_ && generation == generation_) {
      if (queue_.empty()) {
        work_.wait(lock);
        continue;
      }
      Request r = std::move(queue_.front());
      queue_.pop_front();
      Area area{static_cast<std::uint8_t*>(r.data), areas_[r.data].size};
      if (!r.unsolicited) {
        lock.unlock();
        driver_.answer(r.destination, r.number, area);  // reads sysfs without the lock
        lock.lock();
      }
      deliver(r, generation, lock);
    }
  }

  // The answer as a driver delivers it: a message with the response number
  // at 80 and the request's own data area at 84, to the handler of the
  // registration that sent it (dropped when that is gone).
  void deliver(const Request& r, std::uint64_t generation, std::unique_lock<std::mutex>& lock) {
    auto reg = registrations_.find(r.handle);
    auto* message = static_cast<unsigned char*>(std::calloc(1, kMessageSize));
    if (reg == registrations_.end() || !message || !running_ || generation != generation_) {
      std::free(message);
      free_area(r.data);
      return;
    }
    const std::uint32_t number = r.unsolicited ? r.number : response_number(r.number);
    std::memcpy(message + kNumberOffset, &number, 4);
    std::memcpy(message + kDataOffset, &r.data, sizeof r.data);
    messages_.insert(message);
    Handler handler = reg->second;
    delivering_ = r.handle;
    delivering_thread_ = std::this_thread::get_id();
    lock.unlock();
    handler(kMessageKind, message);
    lock.lock();
    delivering_ = 0;
    idle_.notify_all();
  }

  sysfs::Model model_;
  Driver driver_;
  std::mutex mu_;
  std::condition_variable work_, idle_;
  std::map<std::uint32_t, Handler> registrations_;
  std::unordered_map<void*, AreaInfo> areas_;
  std::unordered_set<void*> messages_;  // delivered, not yet freed
  std::deque<Request> queue_;
  std::thread worker_;
  bool running_ = false;
  std::uint64_t generation_ = 0;  // a detached worker of an earlier generation ends
  std::uint32_t delivering_ = 0;
  std::thread::id delivering_thread_;
  std::mutex watch_mu_;                      // taken before mu_, never while holding it
  std::unique_ptr<watch::Watcher> watcher_;  // last: it stops first
};

std::mutex g_create;
Library* g_library = nullptr;
bool g_unloaded = false;

Library* library() {
  std::lock_guard lock(g_create);
  if (!g_library && !g_unloaded) g_library = new (std::nothrow) Library();
  return g_library;
}

struct Unloader {
  ~Unloader() {
    Library* lib;
    {
      std::lock_guard lock(g_create);
      g_unloaded = true;
      lib = std::exchange(g_library, nullptr);
    }
    if (lib) lib->shutdown();
    delete lib;
  }
} g_unloader;

template <typename F, typename R>
R guarded(F f, R failure) noexcept {
  try {
    Library* lib = library();
    return lib ? f(*lib) : failure;
  } catch (...) {
    return failure;
  }
}

}  // namespace
}  // namespace qlinux

using qlinux::guarded;
using qlinux::Library;

extern "C" {

__attribute__((visibility("default"))) unsigned char q_msg_init() {
  return guarded([](Library& l) { return l.msg_init(); }, static_cast<unsigned char>(0));
}

__attribute__((visibility("default"))) int q_register_msg_handler(std::uint32_t handle,
                                                                  const char* name, int,
                                                                  qlinux::Handler handler) {
  return guarded(
      [&](Library& l) {
        const int result = l.register_handler(handle, name, handler);
        l.update_watcher();
        return result;
      },
      0);
}

__attribute__((visibility("default"))) void q_deregister_msg_handler(std::uint32_t handle) {
  guarded([&](Library& l) { return l.deregister_handler(handle), 0; }, 0);
}

__attribute__((visibility("default"))) void* q_msg_alloc(std::uint32_t size,
                                                         std::uint32_t size_again, int zero) {
  return guarded([&](Library& l) { return l.msg_alloc(size, size_again, zero); },
                 static_cast<void*>(nullptr));
}

__attribute__((visibility("default"))) void q_send_msg_by_name(const char* destination,
                                                               std::uint32_t handle,
                                                               std::uint32_t number, void* data) {
  guarded([&](Library& l) { return l.send(destination, handle, number, data), 0; }, 0);
}

__attribute__((visibility("default"))) void q_msg_free(void* message) {
  guarded([&](Library& l) { return l.msg_free(message), 0; }, 0);
}

__attribute__((visibility("default"))) void q_msg_done() {
  guarded([](Library& l) { return l.msg_done(), 0; }, 0);
}

}  // extern "C"
