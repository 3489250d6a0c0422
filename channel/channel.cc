#include "channel/channel.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <type_traits>

#include "base/diag.h"
#include "eventlog/event_log.h"
#include "eventlog/request_log.h"
#include "objects/value_format.h"
#include "platform/debug_output.h"
#include "platform/guarded_call.h"
#include "platform/module_loader.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTraceOpen = 0x80000;
constexpr std::uint32_t kTraceMessages = 0x10000000;
constexpr std::uint32_t kTraceTiming = 0x20000000;
constexpr std::uint32_t kTraceResponses = 0x40000;

// The channel the library's callback forwards to.
std::shared_mutex active_guard;
Channel* active_channel = nullptr;

void make_active(Channel* channel) {
  std::unique_lock<std::shared_mutex> hold(active_guard);
  active_channel = channel;
}

void withdraw(Channel* channel) {
  std::unique_lock<std::shared_mutex> hold(active_guard);
  if (active_channel == channel) active_channel = nullptr;
}

// A library loaded at run time runs its own exit-time clean-up before the
// exit handlers registered earlier than its load. This one, registered after
// the first load, closes the channel while the library still works.
void close_at_exit() {
  Channel* channel = nullptr;
  {
    std::shared_lock<std::shared_mutex> hold(active_guard);
    channel = active_channel;
  }
  if (channel != nullptr && channel->channel_open()) channel->qdn_close();
}

// Pointers for texts that print "0x" themselves: upper-case digits, full
// width, without the prefix that the C library's "%p" would add.
struct PointerText {
  char text[2 * sizeof(void*) + 1];
};

PointerText pointer_text(const void* p) {
  PointerText t;
  std::snprintf(t.text, sizeof t.text, "%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)),
                reinterpret_cast<std::uintptr_t>(p));
  return t;
}

template <typename... Args>
void write_text(char* out, std::size_t cap, const char* format, Args... args) {
  if (out == nullptr || cap == 0) return;
  std::snprintf(out, cap, format, args...);
}

const char* state_name(int state) {
  switch (state) {
    case kDriverReady:
      return "READY";
    case kDriverStandby:
      return "STANDBY";
    case kDriverUnloaded:
      return "UNLOADED";
    case kDriverSuspend:
      return "SUSPEND";
    default:
      return nullptr;
  }
}

}  // namespace

struct Channel::Library {
  void* module = nullptr;
  q_msg_init_fn msg_init = nullptr;
  q_register_msg_handler_fn register_msg_handler = nullptr;
  q_deregister_msg_handler_fn deregister_msg_handler = nullptr;
  q_msg_free_fn msg_free = nullptr;
  q_msg_alloc_fn msg_alloc = nullptr;
  q_send_msg_by_name_fn send_msg_by_name = nullptr;
  q_msg_done_fn msg_done = nullptr;
};

void tavro_msg_handler(int kind, void* message) {
  std::shared_lock<std::shared_mutex> hold(active_guard);
  if (active_channel != nullptr) active_channel->msg_handler(kind, message);
}

Channel::Channel(const Diag& diag, EventLog& events, RequestLog* requests, ChannelSettings settings)
    : diag_(diag),
      events_(events),
      requests_(requests),
      settings_(settings),
      library_(std::make_unique<Library>()) {}

Channel::~Channel() {
  if (channel_open_) qdn_close();
  withdraw(this);
}

void Channel::event(int level, const char* text, int error) {
  events_.write(kSourceLxs, level, text, error);
}

std::int64_t Channel::now_ms() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// ---- Binding and life cycle ------------------------------------------------

int Channel::thread_init() {
  if (bound_ && platform::module_present(settings_.library_name)) return 0;
  return bind_library();
}

int Channel::bind_library() {
  if (diag_.on(kTraceMessages)) diag_.print("qdn_open: Loading Message Library DLL.\n");
  int error = 0;
  void* module = platform::load_module(settings_.library_name, &error);
  if (module == nullptr) {
    if (diag_.on(kTraceMessages)) {
      diag_.print("TAVRO: qdn_open: Unable to load Message Library DLL: %s (err==%d)\n",
                  settings_.library_name, error);
    }
    std::string file = platform::module_file_name(settings_.library_name);
    std::string text = "Driver file not found! (" + file + ")";
    event(kLevelError, text.c_str(), error);
    if (!missing_told_) {
      std::fprintf(stderr,
                   "%s: driver library %s not found (searched TAVRO_LIBRARY_PATH, %s, the system's"
                   " library path)\n",
                   program_invocation_short_name, file.c_str(), platform::executable_dir().c_str());
      missing_told_ = true;
    }
    return -1;
  }
  Library& lib = *library_;
  lib.module = module;
  auto find = [module](auto& address, const char* name) {
    address = reinterpret_cast<std::remove_reference_t<decltype(address)>>(
        platform::module_symbol(module, name));
  };
  find(lib.msg_init, "q_msg_init");
  find(lib.register_msg_handler, "q_register_msg_handler");
  find(lib.deregister_msg_handler, "q_deregister_msg_handler");
  find(lib.msg_free, "q_msg_free");
  find(lib.msg_alloc, "q_msg_alloc");
  find(lib.send_msg_by_name, "q_send_msg_by_name");
  find(lib.msg_done, "q_msg_done");
  static std::once_flag exit_hook;
  std::call_once(exit_hook, [] { std::atexit(close_at_exit); });
  library_path_ = platform::module_path(module);
  std::string loaded = "Message Library loaded: " + library_path_;
  event(kLevelNotice, loaded.c_str());
  bound_ = true;
  return 0;
}

void Channel::qdn_open() {
  if (channel_open_) return;
  std::lock_guard<std::mutex> hold(lifecycle_);
  if (channel_open_) return;
  if (!events_.is_open()) events_.open();
  event(kLevelDebug, "qdn_open");
  int state = driver_state_;
  if (state != kDriverReady) {
    event(kLevelError, "qdn_open() Driver state \"Not Ready\"", state);
    return;
  }
  int r = thread_init();
  if (r != 0) {
    if (diag_.on(kTraceOpen)) diag_.print("qdn_open() thread_init error %d\n", r);
    event(kLevelError, "Thread init failed", r);
    return;
  }
  if (!init_done_) {
    if (safe_msg_init() == 0) {
      if (diag_.on(kTraceOpen)) diag_.print("qdn_open() Initialization failed.\n");
      event(kLevelError, "Initialization failed");
      return;
    }
    init_done_ = true;
    if (diag_.on(kTraceOpen)) diag_.print("qdn_open() Initialization completed.\n");
    event(kLevelNotice, "Initialization completed");
  }
  make_active(this);
  while (!register_once()) {
    if (attempts_ > 5) return;
  }
  if (diag_.on(kTraceOpen)) diag_.print("qdn_open() Driver open completed.\n");
  event(kLevelNotice, "Registration completed");
}

bool Channel::register_once() {
  std::uint32_t pid =
      settings_.process_id != 0 ? settings_.process_id : static_cast<std::uint32_t>(::getpid());
  std::uint32_t handle =
      (pid + static_cast<std::uint32_t>(attempts_)) | (settings_.tag & 0xFFFF0000u);
  ++attempts_;
  reg_handle_ = handle;
  char line[160];
  std::snprintf(line, sizeof line, "qdn_open() handle=0x%08X name=%s", handle,
                settings_.registration_name);
  if (diag_.on(kTraceOpen)) diag_.print("%s\n", line);
  event(kLevelDebug, line);
  if (safe_register_msg_handler(handle, settings_.registration_name, 0, tavro_msg_handler) ==
      qfc::kRegistered) {
    channel_open_ = true;
    return true;
  }
  diag_.print("qdn_open() Registration failed: error (%d)\n", 1);
  event(kLevelError, "Registration failed", 1);
  return false;
}

bool Channel::register_handle(std::uint32_t handle) {
  make_active(this);
  reg_handle_ = handle;
  if (safe_register_msg_handler(handle, settings_.registration_name, 0, tavro_msg_handler) !=
      qfc::kRegistered) {
    return false;
  }
  channel_open_ = true;
  return true;
}

void Channel::qdn_close() {
  std::lock_guard<std::mutex> hold(lifecycle_);
  const bool trace = diag_.on(kTraceOpen);
  if (trace) diag_.print("qdn_close\n");
  event(kLevelDebug, "qdn_close");
  if (!channel_open_.exchange(false)) return;
  if (trace) diag_.print("qdn_close: calling q_deregister_msg_handler\n");
  safe_deregister_msg_handler(reg_handle_);
  if (trace) diag_.print("qdn_close: calling q_msg_done\n");
  safe_msg_done();
  if (trace) diag_.print("qdn_close: calling qdn_close_bh\n");
  platform::debug_output("TAVRO: qdn_close_bh(): done.\n");
  if (trace) diag_.print("qdn_close: done.\n");
}

void Channel::qdn_state(int state) {
  if (state == driver_state_) {
    if (diag_.on(kTraceOpen)) diag_.print("qdn_state already set to %d.\n", state);
    return;
  }
  const char* name = state_name(state);
  if (name == nullptr) {
    event(kLevelError, "Internal Error - State", state);
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Driver state changed to %s.", name);
  event(kLevelNotice, text);
  driver_state_ = state;
}

// ---- Guarded calls ---------------------------------------------------------

void Channel::note_exception(const char* line, const char* function) {
  if (requests_ != nullptr) requests_->write_line(line);
  platform::debug_output(line);
  if (!events_.is_open()) events_.open();
  char text[64];
  std::snprintf(text, sizeof text, "Program Exception: %s", function);
  event(kLevelError, text);
}

unsigned char Channel::safe_msg_init() {
  auto fn = library_->msg_init;
  unsigned char result = 0;
  if (platform::guarded_call(fn, [&] { result = fn(); }) == platform::CallResult::kFaulted) {
    note_exception("TAVRO: Received Exception in q_msg_init().\n", "q_msg_init");
    return 0;
  }
  return result;
}

int Channel::safe_register_msg_handler(std::uint32_t handle, const char* name, int zero,
                                       q_msg_handler_fn handler) {
  auto fn = library_->register_msg_handler;
  int result = 0;
  if (platform::guarded_call(fn, [&] { result = fn(handle, name, zero, handler); }) ==
      platform::CallResult::kFaulted) {
    note_exception("TAVRO: Received Exception in q_register_msg_handler().\n",
                   "q_register_msg_handler");
    return 2;
  }
  return result;
}

void Channel::safe_deregister_msg_handler(std::uint32_t handle) {
  auto fn = library_->deregister_msg_handler;
  if (platform::guarded_call(fn, [&] { fn(handle); }) == platform::CallResult::kFaulted) {
    note_exception("TAVRO: Received Exception in q_deregister_msg_handler().\n",
                   "q_deregister_msg_handler");
  }
}

void* Channel::safe_msg_alloc(std::uint32_t size, std::uint32_t size_again, int zero) {
  auto fn = library_->msg_alloc;
  void* data = nullptr;
  if (platform::guarded_call(fn, [&] { data = fn(size, size_again, zero); }) ==
      platform::CallResult::kFaulted) {
    char line[128];
    std::snprintf(line, sizeof line, "TAVRO: Received Exception in q_msg_alloc(%d,%d,0x%X).\n",
                  static_cast<int>(size), static_cast<int>(size_again),
                  static_cast<unsigned>(zero));
    note_exception(line, "q_msg_alloc");
    return nullptr;
  }
  return data;
}

void Channel::safe_msg_free(void* message) {
  auto fn = library_->msg_free;
  if (platform::guarded_call(fn, [&] { fn(message); }) == platform::CallResult::kFaulted) {
    char line[128];
    std::snprintf(line, sizeof line, "TAVRO: Received Exception in q_msg_free(0x%s).\n",
                  pointer_text(message).text);
    note_exception(line, "q_msg_free");
  }
}

void Channel::safe_send_msg_by_name(const char* destination, std::uint32_t handle,
                                    std::uint32_t number, void* data) {
  const bool trace = diag_.on(kTraceMessages);
  char line[400];
  if (trace) {
    std::snprintf(line, sizeof line, "calling q_send_msg_by_name(\"%s\",,0x%X,)", destination,
                  static_cast<unsigned>(number));
    event(kLevelDebug, line);
  }
  expect_response(number, data);
  if (trace) {
    std::snprintf(line, sizeof line, "SNMP: calling pq_send_msg_by_name(\"%s\",,0x%X,)\n",
                  destination, static_cast<unsigned>(number));
    if (requests_ != nullptr) requests_->write_line(line);
    diag_.print("%s", line);
  }
  auto fn = library_->send_msg_by_name;
  if (platform::guarded_call(fn, [&] { fn(destination, handle, number, data); }) ==
      platform::CallResult::kFaulted) {
    std::snprintf(line, sizeof line,
                  "TAVRO: Received Exception in q_send_msg_by_name(\"%s\",0x%08X,%d,0x%s).\n",
                  destination, static_cast<unsigned>(handle), static_cast<int>(number),
                  pointer_text(data).text);
    note_exception(line, "q_send_msg_by_name");
  }
}

void Channel::safe_msg_done() {
  auto fn = library_->msg_done;
  if (platform::guarded_call(fn, [&] { fn(); }) == platform::CallResult::kFaulted) {
    note_exception("TAVRO: Received Exception in q_msg_done().\n", "q_msg_done");
  }
}

// ---- Request transaction and rendezvous -------------------------------------

Transaction Channel::transact_with(const Outgoing& out, char* reply, std::size_t cap,
                                   bool (*fill)(void*, std::uint8_t*), void* context) {
  if (!channel_open_) {
    write_text(reply, cap, "%sDriver not opened", "Error: ");
    return Transaction::kNotOpened;
  }
  // Filled aside first: a request refused by its filling never takes a
  // message from the library, which has no call to give an unsent one back.
  std::uint8_t fields[kMaxMessage] = {};
  if (out.size > sizeof fields) {
    write_text(reply, cap, "%smessage allocation failed", "Error: ");
    return Transaction::kAllocFailed;
  }
  if (!fill(context, fields)) return Transaction::kRefused;
  if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) {
    write_text(reply, cap, "%sno time left for the driver", "Error: ");
    return Transaction::kTimedOut;
  }
  void* data = safe_msg_alloc(out.size, out.size, 0);
  if (data == nullptr) {
    write_text(reply, cap, "%smessage allocation failed", "Error: ");
    return Transaction::kAllocFailed;
  }
  std::memcpy(data, fields, out.size);
  prepare_wait();
  // Writes register their reply too: a confirmation arrives without a value
  // and leaves it as it is, a failure writes its error text.
  set_reply_text(reply, cap);
  if (diag_.on(kTraceMessages)) platform::debug_output("TAVRO: calling q_send_msg_by_name()\n");
  // The event was reset and the reply buffer registered: an answer that
  // comes during the send, on the library's thread or on this one, finds
  // them without waiting for the send to end.
  mutex_.unlock();
  safe_send_msg_by_name(out.destination, reg_handle_, out.number, data);
  return wait_unlocked(reply, cap);
}

void Channel::prepare_wait() {
  mutex_.lock();
  event_.reset();
  ++waiters_;
  if (diag_.on(kTraceTiming)) start_ms_ = now_ms();
}

void Channel::set_reply_text(char* reply, std::size_t cap) {
  reply_ = reply;
  reply_cap_ = reply != nullptr ? cap : 0;
}

Transaction Channel::wait_on_send(char* reply, std::size_t cap) {
  mutex_.unlock();
  return wait_unlocked(reply, cap);
}

int Channel::wait_ms(bool timing) const {
  int timeout = settings_.request_timeout_ms * (timing ? settings_.timing_stretch : 1);
  if (!deadline_) return timeout;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                  *deadline_ - std::chrono::steady_clock::now())
                  .count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, timeout));
}

Transaction Channel::wait_unlocked(char* reply, std::size_t cap) {
  const bool timing = diag_.on(kTraceTiming);
  if (timing) {
    diag_.print("W Entering wait_on_send...\n");
    platform::debug_output("TAVRO: Waiting for reply from driver\n");
  }
  int timeout = wait_ms(timing);
  int error = 0;
  platform::WaitResult result = event_.wait_for(timeout, &error);
  if (timing) {
    diag_.print("+W Wait_on_send woke up...\n");
    platform::debug_output("TAVRO: ...Wait woke up!\n");
  }
  mutex_.lock();
  // A response that came in just as the time ran out still counts.
  if (result == platform::WaitResult::kTimedOut && event_.is_set()) {
    result = platform::WaitResult::kSignalled;
  }
  --waiters_;
  reply_ = nullptr;
  reply_cap_ = 0;
  if (result == platform::WaitResult::kSignalled) {
    if (timing) note_timing();
    ++stats_.ok_total;
    ++stats_.ok_run;
    stats_.timeout_run = 0;
    mutex_.unlock();
    return Transaction::kAnswered;
  }
  expire_expected();
  if (result == platform::WaitResult::kFailed) {
    mutex_.unlock();
    diag_.print("Wait failed: (Error code == %d).\n", error);
    write_text(reply, cap, "%sWait failed: (Error = %d)", "Error: ", error);
    event(kLevelError, "Internal Error on Wait", error);
    return Transaction::kWaitFailed;
  }
  ++stats_.timeout_run;
  ++stats_.timeout_total;
  char counts[96];
  std::snprintf(counts, sizeof counts, " TO:%d/%d OK:%d/%d\n", static_cast<int>(stats_.timeout_run),
                static_cast<int>(stats_.timeout_total), static_cast<int>(stats_.ok_run),
                static_cast<int>(stats_.ok_total));
  stats_.ok_run = 0;
  mutex_.unlock();

  std::uint32_t driver_error = driver_error_;
  if (driver_error != 0) {
    write_text(reply, cap, "%stimeout: driver error(%d)",
               "Error: ", static_cast<int>(driver_error));
    event(kLevelError, "Message timeout", static_cast<int>(driver_error));
  } else {
    write_text(reply, cap, "%sdriver timeout", "Error: ");
    event(kLevelError, "Message timeout");
  }
  platform::debug_output("TAVRO: ");
  if (reply != nullptr && cap > 0) platform::debug_output(reply);
  platform::debug_output(counts);
  return Transaction::kTimedOut;
}

// Called with the mutex held, for an answered request.
void Channel::note_timing() {
  std::int64_t elapsed = now_ms() - start_ms_;
  std::uint32_t ok_before = stats_.ok_total;
  stats_.total_ms += elapsed;
  if (elapsed < stats_.min_ms || stats_.max_ms == 0) stats_.min_ms = elapsed;
  if (elapsed > stats_.max_ms) stats_.max_ms = elapsed;
  char text[160];
  std::snprintf(text, sizeof text, "  Request took %d.%03ds min/max/avg: %d/%d/%dms",
                static_cast<int>(elapsed / 1000), static_cast<int>(elapsed % 1000),
                static_cast<int>(stats_.min_ms), static_cast<int>(stats_.max_ms),
                static_cast<int>(stats_.total_ms / (ok_before + 1)));
  event(kLevelDebug, text);
}

void Channel::recv_drv_msg(const void* data, int count, int type, bool no_copy,
                           std::size_t data_bytes) {
  std::lock_guard<platform::Mutex> hold(mutex_);
  if (waiters_ != 1) {
    note_no_waiter();
    return;
  }
  if (!no_copy && reply_ != nullptr && reply_cap_ > 0) {
    if (type == kValueText) {
      const char* text = static_cast<const char*>(data);
      std::size_t length = text != nullptr ? strnlen(text, data_bytes) : 0;
      if (diag_.on(kTraceResponses)) {
        diag_.print("recv_drv_msg: strlen(datap) = %d\n", static_cast<int>(length));
        diag_.print("recv_drv_msg: datap = %.*s\n", static_cast<int>(length), text);
      }
      if (length >= reply_cap_) length = reply_cap_ - 1;
      if (length > 0) std::memmove(reply_, text, length);
      reply_[length] = '\0';
    } else {
      format_value(reply_, reply_cap_, data, data_bytes, count, type);
    }
  }
  event_.set();
}

// A response that finds no request waiting for it.
void Channel::note_no_waiter() {
  std::lock_guard<platform::Mutex> hold(mutex_);
  if (waiters_ == 1 || !diag_.on(kTraceMessages | kTraceResponses)) return;
  char line[96];
  std::snprintf(line, sizeof line, "recv_drv_msg: wait NOT in progress (%d)!\n", waiters_);
  diag_.print("%s", line);
  platform::debug_output("TAVRO: ");
  platform::debug_output(line);
}

bool Channel::reply_text_is(const char* text) {
  std::lock_guard<platform::Mutex> hold(mutex_);
  if (waiters_ != 1 || reply_ == nullptr) return false;
  std::size_t length = std::strlen(text);
  return length < reply_cap_ && std::strncmp(reply_, text, length + 1) == 0;
}

RendezvousStats Channel::stats() {
  std::lock_guard<platform::Mutex> hold(mutex_);
  return stats_;
}

}  // namespace tavro
