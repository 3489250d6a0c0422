// libQFCMsgLib.so, the simulated driver message library: the seven q_
// library functions, a delivery thread that answers requests from the
// model, and the control functions of sim_control.h.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "sim/layout.h"
#include "sim/model.h"
#include "sim/service.h"
#include "sim/sim_control.h"
#include "sim/wire.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

// A delivered message, 96 bytes. Offsets 80 (number) and 84 (data pointer)
// are the contract; the rest is the simulator's own bookkeeping.
constexpr std::size_t kMessageSize = 96;
constexpr std::uint32_t kMessageMagic = 0x47534D51;  // "QMSG"
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kKindOffset = 4;
constexpr std::size_t kHandleOffset = 8;
constexpr std::size_t kSizeOffset = 12;
constexpr std::size_t kDataCopyOffset = 16;  // the data pointer again, for q_msg_free
constexpr std::size_t kNameOffset = 24;      // destination of the request (56 bytes)
constexpr int kMessageKind = 1;
constexpr std::size_t kEventSize = 256;
constexpr std::uint32_t kMaxAlloc = 1u << 20;

// Who holds a data area: the program (from q_msg_alloc until it is sent),
// the library (queued, or left by a send that faulted), or a delivered message.
enum class Holder { kProgram, kLibrary, kMessage };

struct AreaInfo {
  std::size_t size = 0;
  Holder holder = Holder::kProgram;
};

struct Item {
  enum Type { kRequest, kMessage, kDriverError } type = kRequest;
  std::uint32_t handle = 0;
  std::uint32_t number = 0;
  std::string destination;
  void* pointer = nullptr;  // request: the data area; message: the message
  std::uint32_t value = 0;  // driver error value
  bool answer = false;      // message: an answer (else an event)
  MessageFault fault;       // request: its faults, fixed at send time
};

struct Registration {
  std::string name;
  Handler handler = nullptr;
};

// Faults inside a q_ function. No lock is held and nothing has been changed
// when it runs, so a program that survives the fault finds the library intact.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((noinline, no_sanitize("address", "undefined")))
#endif
void fault_with(int signal) {
  switch (signal) {
    case SIGSEGV: {
      volatile int* volatile nowhere = nullptr;
      *nowhere = 0x5E6F;  // a real write through a null pointer
      break;
    }
    case SIGILL:
      __builtin_trap();
    case SIGFPE: {
      volatile int one = 1, zero = 0;
      volatile int quotient = one / zero;  // a real integer division by zero
      (void)quotient;
      break;
    }
    default:
      std::raise(signal);
      break;
  }
}

std::string read_whole_file(const char* path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::string("cannot open the model file ") + path + ": " + std::strerror(errno);
    return {};
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    error = std::string("cannot read the model file ") + path;
    return {};
  }
  return text.str();
}

class Library {
 public:
  Library() : start_(Clock::now()) {
    for (auto& c : crash_) c.store(0);
    load_initial();
  }

  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // --- q_ functions ---------------------------------------------------------

  unsigned char msg_init() {
    check_crash(kMsgInit);
    std::lock_guard lock(mu_);
    if (!ready_) return 0;
    ensure_worker();
    return 1;
  }

  int register_handler(std::uint32_t handle, const char* name, Handler handler) {
    check_crash(kRegister);
    std::lock_guard lock(mu_);
    if (!ready_ || handler == nullptr || name == nullptr) return 0;
    if (faults_.refuse_register > 0) {
      --faults_.refuse_register;
      return 0;
    }
    if (registrations_.count(handle)) return 0;
    registrations_[handle] = Registration{name, handler};
    ensure_worker();
    if (faults_.driver_error_on_register != 0) {
      enqueue_driver_error(handle, faults_.driver_error_on_register);
    }
    return kRegistered;
  }

  void deregister_handler(std::uint32_t handle) {
    check_crash(kDeregister);
    std::unique_lock lock(mu_);
    registrations_.erase(handle);
    // No delivery to this registration after the return, unless the handler
    // itself is deregistering (it runs on the delivery thread).
    done_cv_.wait(lock, [&] {
      return !(delivering_ && delivering_handle_ == handle &&
               delivering_thread_ != std::this_thread::get_id());
    });
  }

  void* msg_alloc(std::uint32_t size, std::uint32_t size_again, int zero) {
    check_crash(kMsgAlloc);
    std::lock_guard lock(mu_);
    if (faults_.alloc_fail > 0) {
      --faults_.alloc_fail;
      return nullptr;
    }
    if (size != size_again || zero != 0) {
      ++invalid_calls_;
      return nullptr;
    }
    if (size == 0 || size > kMaxAlloc) return nullptr;
    void* area = std::calloc(1, size);
    if (!area) return nullptr;
    try {
      areas_[area] = AreaInfo{size, Holder::kProgram};
    } catch (...) {
      std::free(area);
      return nullptr;
    }
    return area;
  }

  void send_by_name(const char* destination, std::uint32_t handle, std::uint32_t number,
                    void* data) {
    if (const int signal = crash_[kSendByName].exchange(0); signal != 0) {
      // The area is the library's once the call is made: keep it for q_msg_done.
      {
        std::lock_guard lock(mu_);
        auto it = areas_.find(data);
        if (it != areas_.end()) it->second.holder = Holder::kLibrary;
      }
      fault_with(signal);
    }
    std::unique_lock lock(mu_);
    ++requests_received_;
    auto it = areas_.find(data);
    if (data == nullptr || it == areas_.end() || it->second.holder != Holder::kProgram) {
      ++invalid_calls_;
      return;
    }
    it->second.holder = Holder::kLibrary;
    if (!ready_ || destination == nullptr) {
      ++requests_dropped_;
      free_area(data);
      return;
    }
    if (!well_formed(number, Area{static_cast<std::uint8_t*>(data), it->second.size})) {
      ++invalid_calls_;
      ++requests_dropped_;
      free_area(data);
      return;
    }
    Item item;
    item.type = Item::kRequest;
    item.handle = handle;
    item.number = number;
    item.destination = destination;
    item.pointer = data;
    auto f = faults_.messages.find(number);
    if (f != faults_.messages.end()) item.fault = f->second;
    release_held(number);
    if (item.fault.caller_thread) {
      answer_on_caller(std::move(item), lock);
      return;
    }
    const int delay_ms = item.fault.delay_ms;
    enqueue(std::move(item), delay_ms, false);
    ensure_worker();
    // Woken once the lock is free: the worker need not wake only to wait for it.
    lock.unlock();
    work_cv_.notify_all();
  }

  void msg_free(void* message) {
    check_crash(kMsgFree);
    std::lock_guard lock(mu_);
    if (message == nullptr || !messages_.count(message)) {
      ++invalid_calls_;
      return;
    }
    free_message(message);
    ++messages_freed_;
  }

  void msg_done() {
    check_crash(kMsgDone);
    stop_worker();
    std::lock_guard lock(mu_);
    registrations_.clear();
    discard_queue();
  }

  // --- control --------------------------------------------------------------

  void reset() {
    std::lock_guard lock(mu_);
    clear_faults_locked();
    Model model;
    Faults ignored;
    std::string error;
    if (!initial_error_.empty()) {
      ready_ = false;
      last_error_ = initial_error_;
    } else if (parse_model(initial_text_, now_ms(), model, ignored, error)) {
      model_ = std::move(model);
      ready_ = true;
    } else {
      ready_ = false;
      last_error_ = initial_source_ + ": " + error;
    }
  }

  int load_text(const std::string& text, const std::string& source) {
    Model model;
    Faults faults;
    std::string error;
    std::lock_guard lock(mu_);
    if (!parse_model(text, now_ms(), model, faults, error)) {
      last_error_ = source + ": " + error;
      return -1;
    }
    model_ = std::move(model);
    set_faults_locked(std::move(faults));
    ready_ = true;
    last_error_.clear();
    return 0;
  }

  int load_file(const char* path) {
    if (path == nullptr) return -1;
    std::string error;
    std::string text = read_whole_file(path, error);
    if (!error.empty()) {
      std::lock_guard lock(mu_);
      last_error_ = error;
      return -1;
    }
    return load_text(text, path);
  }

  std::string last_error() {
    std::lock_guard lock(mu_);
    return last_error_;
  }

  void clear_faults() {
    std::lock_guard lock(mu_);
    clear_faults_locked();
  }

  template <typename Change>
  void change_fault(std::uint32_t message, Change change) {
    std::lock_guard lock(mu_);
    MessageFault& f = faults_.messages[message];
    change(f);
    if (f.empty()) faults_.messages.erase(message);
  }

  void driver_error_now(std::uint32_t value) {
    std::lock_guard lock(mu_);
    for (const auto& [handle, reg] : registrations_) enqueue_driver_error(handle, value);
    if (!registrations_.empty()) ensure_worker();
  }

  int arm_crash(const char* function_name, int signal) {
    if (function_name == nullptr || signal <= 0 || signal >= 65) return -1;
    int index = function_index(function_name);
    if (index < 0) return -1;
    crash_[index].store(signal);
    return 0;
  }

  void set_alloc_fail(int count) {
    std::lock_guard lock(mu_);
    faults_.alloc_fail = count > 0 ? count : 0;
  }

  void set_refuse_register(int count) {
    std::lock_guard lock(mu_);
    faults_.refuse_register = count > 0 ? count : 0;
  }

  int set_link(int adapter, int port, bool up) {
    std::lock_guard lock(mu_);
    std::vector<Event> events;
    int result = change_link(model_, adapter, port, up, now_ms(), events);
    send_events(events);
    return result;
  }

  void send_event(std::uint32_t severity, const char* text) {
    std::lock_guard lock(mu_);
    send_events({Event{severity, text ? text : ""}});
  }

  void advance_clock(int milliseconds) {
    std::lock_guard lock(mu_);
    if (milliseconds > 0) clock_offset_ms_ += milliseconds;
  }

  int wait_idle(int timeout_ms) {
    std::unique_lock lock(mu_);
    bool idle = done_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                                  [&] { return queue_.empty() && !delivering_; });
    return idle ? 0 : -1;
  }

  std::uint32_t outstanding() {
    std::lock_guard lock(mu_);
    return static_cast<std::uint32_t>(areas_.size() + messages_.size());
  }

  std::atomic<std::uint32_t> requests_received_{0};
  std::atomic<std::uint32_t> answers_delivered_{0};
  std::atomic<std::uint32_t> events_delivered_{0};
  std::atomic<std::uint32_t> messages_freed_{0};
  std::atomic<std::uint32_t> requests_dropped_{0};
  std::atomic<std::uint32_t> invalid_calls_{0};

  // Stops the delivery thread and releases everything; at unload. False when
  // the thread did not stop in time (the library must then stay allocated).
  bool shutdown() {
    if (!stop_worker(std::chrono::seconds(5))) return false;
    std::lock_guard lock(mu_);
    registrations_.clear();
    discard_queue();
    for (void* m : messages_) std::free(m);
    messages_.clear();
    for (auto& [area, info] : areas_) std::free(area);
    areas_.clear();
    return true;
  }

 private:
  using QueueKey = std::pair<Clock::time_point, std::uint64_t>;

  std::int64_t now_ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count() +
           clock_offset_ms_;
  }

  void check_crash(Function function) {
    int signal = crash_[function].exchange(0);
    if (signal != 0) fault_with(signal);
  }

  void load_initial() {
    const char* path = std::getenv(SIM_MODEL_VARIABLE);
    std::string error;
    if (path != nullptr && *path != 0) {
      initial_source_ = path;
      initial_text_ = read_whole_file(path, error);
      if (!error.empty()) initial_error_ = error;
    } else {
      initial_source_ = "embedded default model";
      initial_text_ = default_model_json();
    }
    Model model;
    Faults faults;
    if (initial_error_.empty() && !parse_model(initial_text_, now_ms(), model, faults, error)) {
      initial_error_ = initial_source_ + ": " + error;
    }
    if (!initial_error_.empty()) {
      ready_ = false;
      last_error_ = initial_error_;
      std::fprintf(stderr, "QFCMsgLib (simulated driver): %s; the library refuses to start\n",
                   initial_error_.c_str());
      return;
    }
    model_ = std::move(model);
    set_faults_locked(std::move(faults));
    ready_ = true;
  }

  void set_faults_locked(Faults faults) {
    for (int i = 0; i < kFunctionCount; ++i) crash_[i].store(faults.crash[i]);
    faults_ = std::move(faults);
  }

  void clear_faults_locked() { set_faults_locked(Faults{}); }

  void ensure_worker() {
    if (worker_running_) return;
    worker_running_ = true;
    ++active_workers_;
    const std::uint64_t generation = generation_;
    try {
      worker_ = std::thread([this, generation] { worker_main(generation); });
    } catch (...) {
      worker_running_ = false;
      --active_workers_;
    }
  }

  // Ends the current delivery thread: joins it, or lets it end by itself when
  // called from inside a handler. False when it did not end within timeout.
  bool stop_worker(std::chrono::milliseconds timeout = std::chrono::hours(1)) {
    std::thread worker;
    {
      std::lock_guard lock(mu_);
      ++generation_;
      worker_running_ = false;
      worker = std::move(worker_);
    }
    work_cv_.notify_all();
    if (worker.joinable()) {
      if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
      } else {
        worker.join();
      }
    }
    std::unique_lock lock(mu_);
    return done_cv_.wait_for(lock, timeout, [&] {
      return active_workers_ == 0 || (active_workers_ == 1 && delivering_ &&
                                      delivering_thread_ == std::this_thread::get_id());
    });
  }

  void worker_main(std::uint64_t generation) {
    std::unique_lock lock(mu_);
    while (generation_ == generation) {
      if (queue_.empty()) {
        done_cv_.notify_all();
        work_cv_.wait(lock);
        continue;
      }
      auto first = queue_.begin();
      if (first->first.first > Clock::now()) {
        work_cv_.wait_until(lock, first->first.first);
        continue;
      }
      Item item = std::move(first->second);
      queue_.erase(first);
      if (item.type == Item::kRequest) {
        process_request(std::move(item));
      } else {
        deliver(std::move(item), lock);
      }
    }
    --active_workers_;
    done_cv_.notify_all();
  }

  void enqueue(Item item, int delay_ms, bool wake = true) {
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(delay_ms);
    queue_.emplace(QueueKey{due, next_sequence_++}, std::move(item));
    if (wake) work_cv_.notify_all();
  }

  void enqueue_driver_error(std::uint32_t handle, std::uint32_t value) {
    Item item;
    item.type = Item::kDriverError;
    item.handle = handle;
    item.value = value;
    enqueue(std::move(item), 0);
  }

  void* make_message(std::uint32_t handle, std::uint32_t number, void* data, std::size_t size,
                     const std::string& name) {
    auto* message = static_cast<unsigned char*>(std::calloc(1, kMessageSize));
    if (!message) return nullptr;
    const std::uint32_t magic = kMessageMagic, kind = kMessageKind;
    const auto size32 = static_cast<std::uint32_t>(size);
    std::memcpy(message + kMagicOffset, &magic, 4);
    std::memcpy(message + kKindOffset, &kind, 4);
    std::memcpy(message + kHandleOffset, &handle, 4);
    std::memcpy(message + kSizeOffset, &size32, 4);
    std::memcpy(message + kDataCopyOffset, &data, sizeof data);
    std::memcpy(message + kNameOffset, name.data(),
                std::min(name.size(), kNumberOffset - kNameOffset - 1));
    std::memcpy(message + kNumberOffset, &number, 4);
    std::memcpy(message + kDataOffset, &data, sizeof data);
    return message;
  }

  void enqueue_message(std::uint32_t handle, void* message, bool answer) {
    Item item;
    item.type = Item::kMessage;
    item.handle = handle;
    item.pointer = message;
    item.answer = answer;
    enqueue(std::move(item), 0);
  }

  // What the driver checks before it takes a request: the area has the size
  // of the request's layout, a port or node request repeats its number at
  // offset 12, and a request with an identifier carries one (identifiers
  // start at 1).
  bool well_formed(std::uint32_t number, const Area& area) {
    const std::size_t size = request_size(number);
    if (size != 0 && area.size != size) return false;
    if (is_fcph(number) && area.get32(kFcphNumberEcho) != number) return false;
    const long id_at = request_id_offset(number);
    if (id_at < 0) return true;
    return area.get32(static_cast<std::size_t>(id_at)) != 0;
  }

  // Delivers answers held by the late mode when the next request of their
  // number arrives, ahead of that request's own answer.
  void release_held(std::uint32_t number) {
    auto held = held_.find(number);
    if (held == held_.end()) return;
    for (Item& item : held->second) enqueue(std::move(item), 0);
    held_.erase(held);
    ensure_worker();
  }

  // Answers a request inside q_send_msg_by_name and delivers the answer on
  // the calling thread, the lock released around the handler.
  void answer_on_caller(Item item, std::unique_lock<std::mutex>& lock) {
    const std::uint32_t handle = item.handle;
    void* message = answer_message(std::move(item));
    send_events(pending_events_);
    pending_events_.clear();
    if (message == nullptr) return;
    Item delivery;
    delivery.type = Item::kMessage;
    delivery.handle = handle;
    delivery.pointer = message;
    delivery.answer = true;
    deliver(std::move(delivery), lock);
  }

  // Queues one answer message, or holds it, as the request's faults say. A
  // second copy (its own message and data area) is held for the next request
  // of the same number, so that it always comes while another one waits.
  void queue_answer(const Item& request, void* message) {
    Item item;
    item.type = Item::kMessage;
    item.handle = request.handle;
    item.pointer = message;
    item.answer = true;
    if (request.fault.twice) {
      if (void* copy = copy_message(message)) {
        Item twin = item;
        twin.pointer = copy;
        held_[request.number].push_back(std::move(twin));
      }
    }
    if (request.fault.late) {
      held_[request.number].push_back(std::move(item));
      // One answer is held: the next request is answered as usual.
      auto fault = faults_.messages.find(request.number);
      if (fault != faults_.messages.end()) fault->second.late = false;
      return;
    }
    enqueue(std::move(item), 0);
  }

  void* copy_message(void* message) {
    void* data = data_of(message);
    auto info = areas_.find(data);
    if (info == areas_.end()) return nullptr;
    void* copy = std::malloc(info->second.size);
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, data, info->second.size);
    areas_[copy] = AreaInfo{info->second.size, Holder::kLibrary};
    std::uint32_t number;
    std::memcpy(&number, static_cast<unsigned char*>(message) + kNumberOffset, 4);
    std::uint32_t handle;
    std::memcpy(&handle, static_cast<unsigned char*>(message) + kHandleOffset, 4);
    void* twin = make_message(handle, number, copy, info->second.size, "");
    if (twin == nullptr) free_area(copy);
    return twin;
  }

  // Answers one request from the model (lock held). The answer, then the
  // events it caused, are queued for delivery in that order.
  void process_request(Item item) {
    const Item request = item;
    void* message = answer_message(std::move(item));
    if (message != nullptr) queue_answer(request, message);
    send_events(pending_events_);
    pending_events_.clear();
  }

  // Makes the answer message of a request (lock held); null when the request
  // goes unanswered. The events it causes wait in pending_events_.
  void* answer_message(Item item) {
    void* data = item.pointer;
    auto area_it = areas_.find(data);
    const std::size_t size = area_it == areas_.end() ? 0 : area_it->second.size;
    int adapter_index = -1;
    Service service = route(model_, item.destination, &adapter_index);
    if (item.fault.driver_error != 0) {
      for (const auto& [handle, reg] : registrations_) {
        enqueue_driver_error(handle, item.fault.driver_error);
      }
    }
    if (service == Service::kNone || item.fault.no_answer) {
      if (service == Service::kNone) ++requests_dropped_;
      free_area(data);
      return nullptr;
    }
    Area area{static_cast<std::uint8_t*>(data), size};
    answer_request(model_, service, adapter_index, item.number, area, now_ms(),
                   item.fault.lxs_status, pending_events_);
    std::uint32_t number = response_number(item.number);
    if (item.fault.wrong_number == 1) {
      number += 2;
    } else if (item.fault.wrong_number != 0) {
      number = item.fault.wrong_number;
    }
    if (item.fault.wrong_object && item.number == kLxsObjectRequest) {
      const std::uint32_t id = area.get32(0);
      area.put32(0, (id & 0x80000000u) | ((id + 1) & 0x7FFFFFFFu));
    }
    void* message = make_message(item.handle, number, data, size, item.destination);
    if (!message) free_area(data);
    return message;
  }

  // One driver event message (0x0300000B) per registration (lock held).
  void send_events(const std::vector<Event>& events) {
    for (const Event& event : events) {
      for (const auto& [handle, reg] : registrations_) {
        void* data = std::calloc(1, kEventSize);
        if (!data) continue;
        areas_[data] = AreaInfo{kEventSize, Holder::kLibrary};
        Area area{static_cast<std::uint8_t*>(data), kEventSize};
        area.put32(0, event.severity);
        area.put_text(8, event.text);
        void* message = make_message(handle, kDriverEventNumber, data, kEventSize, "");
        if (!message) {
          free_area(data);
          continue;
        }
        enqueue_message(handle, message, false);
      }
      if (!registrations_.empty()) ensure_worker();
    }
  }

  // Calls the registration's handler without holding the lock.
  void deliver(Item item, std::unique_lock<std::mutex>& lock) {
    auto reg = registrations_.find(item.handle);
    if (reg == registrations_.end()) {
      if (item.type == Item::kMessage) {
        free_message_memory(item.pointer);
        ++requests_dropped_;
      }
      return;
    }
    Handler handler = reg->second.handler;
    int kind = kMessageKind;
    void* argument = item.pointer;
    if (item.type == Item::kDriverError) {
      kind = kDriverErrorKind;
      argument = reinterpret_cast<void*>(static_cast<std::uintptr_t>(item.value));
    } else {
      messages_.insert(item.pointer);
      auto area = areas_.find(data_of(item.pointer));
      if (area != areas_.end()) area->second.holder = Holder::kMessage;
      if (item.answer) {
        ++answers_delivered_;
      } else {
        ++events_delivered_;
      }
    }
    delivering_ = true;
    delivering_handle_ = item.handle;
    delivering_thread_ = std::this_thread::get_id();
    lock.unlock();
    handler(kind, argument);
    lock.lock();
    delivering_ = false;
    done_cv_.notify_all();
  }

  void free_area(void* data) {
    if (areas_.erase(data)) std::free(data);
  }

  static void* data_of(void* message) {
    void* data;
    std::memcpy(&data, static_cast<unsigned char*>(message) + kDataCopyOffset, sizeof data);
    return data;
  }

  void free_message_memory(void* message) {
    free_area(data_of(message));
    std::free(message);
  }

  void free_message(void* message) {
    messages_.erase(message);
    free_message_memory(message);
  }

  // Drops every queued request, answer and event, and every area the library
  // holds, releasing their memory. Areas the program holds (allocated, not
  // sent) and delivered messages stay.
  void discard_queue() {
    for (auto& [key, item] : queue_) {
      if (item.type == Item::kMessage) free_message_memory(item.pointer);
    }
    queue_.clear();
    for (auto& [number, items] : held_) {
      for (Item& item : items) free_message_memory(item.pointer);
    }
    held_.clear();
    for (auto it = areas_.begin(); it != areas_.end();) {
      if (it->second.holder == Holder::kLibrary) {
        std::free(it->first);
        it = areas_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex mu_;
  std::condition_variable work_cv_;
  std::condition_variable done_cv_;
  const Clock::time_point start_;
  std::int64_t clock_offset_ms_ = 0;

  bool ready_ = false;
  std::string initial_text_;
  std::string initial_source_;
  std::string initial_error_;
  std::string last_error_;
  Model model_;
  Faults faults_;
  std::atomic<int> crash_[kFunctionCount];

  std::map<std::uint32_t, Registration> registrations_;
  std::unordered_map<void*, AreaInfo> areas_;
  std::unordered_set<void*> messages_;  // delivered, not yet freed
  std::multimap<QueueKey, Item> queue_;
  std::map<std::uint32_t, std::vector<Item>> held_;  // late answers, by request number
  std::vector<Event> pending_events_;
  std::uint64_t next_sequence_ = 0;

  std::thread worker_;
  bool worker_running_ = false;
  int active_workers_ = 0;
  std::uint64_t generation_ = 0;
  bool delivering_ = false;
  std::uint32_t delivering_handle_ = 0;
  std::thread::id delivering_thread_;
};

std::atomic<Library*> g_library{nullptr};
std::atomic<bool> g_unloaded{false};
std::mutex g_create;

struct Unloaded {};

// The library's state, made on first use. After the unloader has run (the
// library is being unloaded or the process is ending) every call fails.
Library& library() {
  Library* lib = g_library.load(std::memory_order_acquire);
  if (!lib) {
    std::lock_guard lock(g_create);
    if (g_unloaded.load()) throw Unloaded{};
    lib = g_library.load();
    if (!lib) {
      lib = new Library();
      g_library.store(lib, std::memory_order_release);
    }
  }
  return *lib;
}

// Stops the delivery thread and frees everything when the library is unloaded
// (dlclose) or the process exits.
struct Unloader {
  ~Unloader() {
    Library* lib;
    {
      std::lock_guard lock(g_create);
      g_unloaded = true;
      lib = g_library.exchange(nullptr);
    }
    if (lib && lib->shutdown()) delete lib;
  }
} g_unloader;

template <typename F>
auto guarded(F f, decltype(f()) failure) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    return failure;
  }
}

template <typename F>
void guarded_void(F f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

}  // namespace
}  // namespace sim

using sim::library;

// --- the message library ------------------------------------------------------

extern "C" {

unsigned char q_msg_init() {
  return sim::guarded([] { return library().msg_init(); }, static_cast<unsigned char>(0));
}

int q_register_msg_handler(std::uint32_t handle, const char* name, int zero, sim::Handler handler) {
  (void)zero;
  return sim::guarded([&] { return library().register_handler(handle, name, handler); }, 0);
}

void q_deregister_msg_handler(std::uint32_t handle) {
  sim::guarded_void([&] { library().deregister_handler(handle); });
}

void* q_msg_alloc(std::uint32_t size, std::uint32_t size_again, int zero) {
  return sim::guarded([&] { return library().msg_alloc(size, size_again, zero); },
                      static_cast<void*>(nullptr));
}

void q_send_msg_by_name(const char* destination, std::uint32_t handle, std::uint32_t number,
                        void* data) {
  sim::guarded_void([&] { library().send_by_name(destination, handle, number, data); });
}

void q_msg_free(void* message) {
  sim::guarded_void([&] { library().msg_free(message); });
}

void q_msg_done() {
  sim::guarded_void([] { library().msg_done(); });
}

// --- control ------------------------------------------------------------------

void sim_reset(void) {
  sim::guarded_void([] { library().reset(); });
}

int sim_load_model_json(const char* json) {
  if (json == nullptr) return -1;
  return sim::guarded([&] { return library().load_text(json, "model text"); }, -1);
}

int sim_load_model_file(const char* path) {
  return sim::guarded([&] { return library().load_file(path); }, -1);
}

const char* sim_last_error(void) {
  // A plain buffer: a thread_local string would keep the library from being
  // unloaded by dlclose. Valid until the next call.
  static char text[1024];
  sim::guarded_void([] {
    std::string error = library().last_error();
    std::snprintf(text, sizeof text, "%s", error.c_str());
  });
  return text;
}

void sim_clear_faults(void) {
  sim::guarded_void([] { library().clear_faults(); });
}

void sim_fault_delay(std::uint32_t message, int milliseconds) {
  sim::guarded_void([&] {
    library().change_fault(
        message, [&](sim::MessageFault& f) { f.delay_ms = milliseconds > 0 ? milliseconds : 0; });
  });
}

void sim_fault_no_answer(std::uint32_t message, int on) {
  sim::guarded_void([&] {
    library().change_fault(message, [&](sim::MessageFault& f) { f.no_answer = on != 0; });
  });
}

void sim_fault_wrong_number(std::uint32_t message, int on) {
  sim::guarded_void([&] {
    library().change_fault(message, [&](sim::MessageFault& f) { f.wrong_number = on ? 1 : 0; });
  });
}

void sim_fault_wrong_number_to(std::uint32_t message, std::uint32_t number) {
  sim::guarded_void([&] {
    library().change_fault(message, [&](sim::MessageFault& f) { f.wrong_number = number; });
  });
}

void sim_fault_wrong_object(std::uint32_t message, int on) {
  sim::guarded_void([&] {
    library().change_fault(message, [&](sim::MessageFault& f) { f.wrong_object = on != 0; });
  });
}

void sim_fault_lxs_status(std::uint32_t message, int status) {
  sim::guarded_void([&] {
    library().change_fault(message, [&](sim::MessageFault& f) {
      f.lxs_status = status >= 2 && status <= 5 ? static_cast<std::uint32_t>(status) : 0;
    });
  });
}

void sim_fault_caller_thread(std::uint32_t message, int on) {
  sim::guarded_void([&] {
    library().change_fault(message, [&](sim::MessageFault& f) { f.caller_thread = on != 0; });
  });
}

void sim_fault_twice(std::uint32_t message, int on) {
  sim::guarded_void(
      [&] { library().change_fault(message, [&](sim::MessageFault& f) { f.twice = on != 0; }); });
}

void sim_fault_late(std::uint32_t message, int on) {
  sim::guarded_void(
      [&] { library().change_fault(message, [&](sim::MessageFault& f) { f.late = on != 0; }); });
}

void sim_fault_driver_error(std::uint32_t value) {
  sim::guarded_void([&] { library().driver_error_now(value); });
}

void sim_fault_driver_error_on(std::uint32_t message, std::uint32_t value) {
  sim::guarded_void([&] {
    library().change_fault(message, [&](sim::MessageFault& f) { f.driver_error = value; });
  });
}

void sim_fault_crash(const char* function_name) {
  sim::guarded_void([&] { library().arm_crash(function_name, SIGSEGV); });
}

int sim_fault_crash_signal(const char* function_name, int signal) {
  return sim::guarded([&] { return library().arm_crash(function_name, signal); }, -1);
}

void sim_fault_alloc_fail(int count) {
  sim::guarded_void([&] { library().set_alloc_fail(count); });
}

void sim_fault_refuse_register(int count) {
  sim::guarded_void([&] { library().set_refuse_register(count); });
}

int sim_set_link(int adapter, int port, int up) {
  return sim::guarded([&] { return library().set_link(adapter, port, up != 0); }, -1);
}

void sim_send_event(std::uint32_t severity, const char* text) {
  sim::guarded_void([&] { library().send_event(severity, text); });
}

void sim_advance_clock(int milliseconds) {
  sim::guarded_void([&] { library().advance_clock(milliseconds); });
}

int sim_wait_idle(int timeout_ms) {
  return sim::guarded([&] { return library().wait_idle(timeout_ms); }, -1);
}

std::uint32_t sim_requests_received(void) {
  return sim::guarded([] { return library().requests_received_.load(); }, 0u);
}
std::uint32_t sim_answers_delivered(void) {
  return sim::guarded([] { return library().answers_delivered_.load(); }, 0u);
}
std::uint32_t sim_messages_freed(void) {
  return sim::guarded([] { return library().messages_freed_.load(); }, 0u);
}
std::uint32_t sim_events_delivered(void) {
  return sim::guarded([] { return library().events_delivered_.load(); }, 0u);
}
std::uint32_t sim_requests_dropped(void) {
  return sim::guarded([] { return library().requests_dropped_.load(); }, 0u);
}
std::uint32_t sim_invalid_calls(void) {
  return sim::guarded([] { return library().invalid_calls_.load(); }, 0u);
}

std::uint32_t sim_messages_outstanding(void) {
  return sim::guarded([] { return library().outstanding(); }, 0u);
}

}  // extern "C"
