// The driver message channel: the bound message library, one registration
// with it, the request/response rendezvous and the response dispatcher.
//
// One Channel per program, owned by its start-up code. Requests are made
// from one thread at a time (the daemon's server thread); responses arrive on
// the library's delivery thread. Open, close and state changes may also come
// from the power-event thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "channel/catalogue.h"
#include "channel/qfc_msglib.h"
#include "objects/value_format.h"
#include "platform/sync.h"

namespace tavro {

class Diag;
class EventLog;
class RequestLog;

inline constexpr int kDriverReady = 0;
inline constexpr int kDriverStandby = 1;
inline constexpr int kDriverUnloaded = 2;
inline constexpr int kDriverSuspend = 3;

struct ChannelSettings {
  const char* registration_name = "TAVRO";
  std::uint32_t tag = 0x54415652;  // "TAVR"
  const char* library_name = "QFCMsgLib";
  int request_timeout_ms = 6000;  // ten times as long with Debug bit 0x20000000
  int timing_stretch = 10;        // that factor; 1 keeps the wait as it is
  const ResponseRow* responses = tavro_responses;
  std::uint32_t process_id = 0;  // 0: the real one; part of the registration handle
};

// How a request transaction ended. The reply buffer holds the reply text in
// every case.
enum class Transaction { kAnswered, kNotOpened, kAllocFailed, kRefused, kTimedOut, kWaitFailed };

struct Outgoing {
  const char* destination;
  std::uint32_t number;
  std::uint32_t size;  // at most kMaxMessage
};

inline constexpr std::size_t kMaxMessage = 1024;

struct RendezvousStats {
  std::uint32_t ok_total = 0;
  std::uint32_t ok_run = 0;
  std::uint32_t timeout_total = 0;
  std::uint32_t timeout_run = 0;
  std::int64_t total_ms = 0;
  std::int64_t min_ms = 0;
  std::int64_t max_ms = 0;
};

class Channel {
 public:
  Channel(const Diag& diag, EventLog& events, RequestLog* requests, ChannelSettings settings = {});
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Life cycle.
  int thread_init();
  void qdn_open();
  void qdn_close();
  void qdn_state(int state);
  bool channel_open() const { return channel_open_.load(); }
  int driver_state() const { return driver_state_.load(); }
  std::uint32_t driver_error() const { return driver_error_.load(); }
  std::uint32_t reg_handle() const { return reg_handle_.load(); }
  int registration_attempts() const { return attempts_; }
  bool library_bound() const { return bound_; }
  // The file the driver library was loaded from; empty before it is bound.
  const std::string& library_path() const { return library_path_; }
  // For a program that runs its own open sequence (an SNMP agent): makes
  // this channel the one the library's callback reaches and registers it
  // under handle. True when the channel is then open.
  bool register_handle(std::uint32_t handle);
  // Marks the channel closed; true when it was open. The caller deregisters.
  bool mark_closed() { return channel_open_.exchange(false); }

  // Guarded calls into the library: a fault inside it is logged and turned
  // into the failure value (0, 2, null, or nothing).
  unsigned char safe_msg_init();
  int safe_register_msg_handler(std::uint32_t handle, const char* name, int zero,
                                q_msg_handler_fn handler);
  void safe_deregister_msg_handler(std::uint32_t handle);
  void* safe_msg_alloc(std::uint32_t size, std::uint32_t size_again, int zero);
  void safe_msg_free(void* message);
  void safe_send_msg_by_name(const char* destination, std::uint32_t handle, std::uint32_t number,
                             void* data);
  void safe_msg_done();

  // One request to the driver: the open test, allocation, filling, the send
  // and the wait. fill(data) writes the request fields into a zeroed area
  // of out.size bytes and may prepare the reply buffer (it reads the request
  // text from there first); returning false refuses the request before
  // anything is allocated, and fill has then written the reply. A read
  // receives the answer's text in reply; a write's confirmation leaves reply
  // as it was, and a failed write receives its error text.
  template <typename Fill>
  Transaction transact(const Outgoing& out, char* reply, std::size_t cap, Fill&& fill) {
    return transact_with(
        out, reply, cap,
        [](void* f, std::uint8_t* data) { return (*static_cast<decltype(&fill)>(f))(data); },
        &fill);
  }

  // No request of the calling thread waits past deadline (none: the
  // request time-out alone); one made after it is not sent.
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;
  void set_deadline(Deadline deadline) { deadline_ = deadline; }

  // Stamps and advances the process-wide request identifier (starts at 1).
  std::uint32_t next_request_id() { return next_request_id_.fetch_add(1); }

  // The rendezvous, in the order a transaction uses it. prepare_wait takes
  // the mutex; wait_on_send gives it up while it waits.
  void prepare_wait();
  void set_reply_text(char* reply, std::size_t cap);
  Transaction wait_on_send(char* reply, std::size_t cap);
  // Delivers one response value into the waiting request's reply text; data
  // holds data_bytes readable bytes.
  void recv_drv_msg(const void* data, int count, int type, bool no_copy, std::size_t data_bytes);
  // True when a request waits and its reply buffer holds exactly text.
  bool reply_text_is(const char* text);
  RendezvousStats stats();

  // The response dispatcher.
  void msg_handler(int kind, void* message);
  void expect_response(std::uint32_t number, const void* data);
  bool match_response(std::uint32_t number, const void* data);
  void clear_expected();
  void format_fcp_error(const std::uint8_t* data);
  void driver_event(const std::uint8_t* data);

  const Diag& diag() const { return diag_; }
  EventLog& events() { return events_; }

 private:
  struct Library;

  Transaction transact_with(const Outgoing& out, char* reply, std::size_t cap,
                            bool (*fill)(void*, std::uint8_t*), void* context);
  Transaction wait_unlocked(char* reply, std::size_t cap);
  int wait_ms(bool timing) const;
  int bind_library();
  bool register_once();
  void note_exception(const char* line, const char* function);
  void note_timing();
  void event(int level, const char* text, int error = -1);
  std::int64_t now_ms() const;

  const Diag& diag_;
  EventLog& events_;
  RequestLog* requests_;
  const ChannelSettings settings_;
  std::unique_ptr<Library> library_;
  Deadline deadline_;

  // Opening and closing exclude each other: a stop or a suspend that closes
  // the channel while it is being opened waits until the open is done.
  std::mutex lifecycle_;

  // The rendezvous lives as long as the channel: the delivery thread may
  // still be inside recv_drv_msg when the channel closes.
  platform::Mutex mutex_;
  platform::ManualResetEvent event_;

  bool bound_ = false;
  std::string library_path_;
  bool missing_told_ = false;  // the missing library was named on standard error
  bool init_done_ = false;
  std::atomic<bool> channel_open_{false};
  std::atomic<std::uint32_t> reg_handle_{0};
  int attempts_ = 0;
  std::atomic<int> driver_state_{kDriverReady};
  std::atomic<std::uint32_t> driver_error_{0};
  std::atomic<std::uint32_t> next_request_id_{1};

  // Rendezvous fields, guarded by mutex_.
  int waiters_ = 0;
  char* reply_ = nullptr;
  std::size_t reply_cap_ = 0;
  std::int64_t start_ms_ = 0;
  RendezvousStats stats_;

  // What an answer must show to be the waiting request's: its number, the
  // object id and request identifier where the layout has them, and the
  // arguments of a port or node request (the number echo and the bytes
  // before the answer's value).
  struct Expectation {
    std::uint32_t number = 0;
    std::uint32_t object = 0;
    long id_at = -1;
    std::uint32_t request_id = 0;
    const void* area = nullptr;
    std::uint8_t head[100] = {};
  };
  bool answers(const Expectation& e, std::uint32_t number, const std::uint8_t* data,
               bool trace) const;
  void expire_expected();
  bool late_answer(const void* data);
  void note_no_waiter();

  // Written before the send, read on the delivery thread.
  std::mutex expect_mutex_;
  bool expecting_ = false;
  Expectation expected_;
  // Requests that timed out, by their data areas: an answer that comes back
  // in one of them is late and goes to no one.
  std::deque<const void*> expired_;
  // Set once an answer came back in its request's own area: from then on an
  // answer in any other area (a copy, a duplicate) is no one's.
  bool answers_in_place_ = false;
};

// The handler registered with the library. The library passes no user
// pointer, so it forwards to the one channel that registered last; a
// channel withdraws itself when it is destroyed, waiting for a delivery in
// progress to finish.
void tavro_msg_handler(int kind, void* message);

// Fills the index fields of an LXS object request from the instance text:
// one '.'-separated component per letter of kinds (the letters end at a
// blank or the end): I decimal index, P port WWN, N node WWN, R remote node
// WWN, A adapter name. Returns 0, or -1 for any other letter. diag, when
// given, traces the fields under Debug bit 0x10000.
int fill_index_fields(const char* index_text, std::uint8_t* message, const char* kinds,
                      const Diag* diag = nullptr);

}  // namespace tavro
