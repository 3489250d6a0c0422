// Start-up, the request loop and the stop sequence of the daemon.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/net.h"

namespace tavro {

struct Daemon;

inline constexpr int kMaxWords = 128;  // the program word and up to 127 arguments
// A client that keeps streaming after its request is cut off after this many bytes.
inline constexpr std::size_t kDrainLimit = 1 << 20;
// Connections that may wait for their request at once; a new one beyond
// this closes the oldest that has still sent nothing.
inline constexpr std::size_t kMaxWaiting = 64;
// A request is whole at its first line end (or zero byte), at a full message
// buffer, or when the client shuts down its sending side. A client that sends
// nothing more for this long is taken to have sent all of it: longer than the
// 200 ms by which TCP stacks delay an acknowledgement (and with it, Nagle, a
// client's second small segment) plus a round trip, short enough to answer a
// client that never ends its line without a noticeable wait.
inline constexpr std::chrono::milliseconds kQuietTime{500};
// The reply to a request that may change a setting but ended on the quiet
// time alone: its text may still have been on its way, so it is not applied.
inline constexpr char kUnendedReply[] = "Error: No line end; request not applied";

// How the daemon knew that a request's text was all there.
enum class RequestEnd {
  kNone,      // not yet
  kLineEnd,   // a carriage return, line feed or zero byte came
  kFull,      // the message buffer is full
  kShutdown,  // the client shut down its sending side after some bytes
  kQuiet,     // no line end, and nothing more for kQuietTime or until the deadline
  kGone,      // closed or reset before a request came: no reply
};

// RecvTimeOut from now; a negative setting counts as 0.
std::chrono::steady_clock::time_point receive_deadline(const Daemon& d);

// The hand-over at start: the server thread applies the settings, the main
// thread then opens the event log with them, and only then does the server
// thread go on (its channel records follow the log's own).
class StartGate {
 public:
  void settings_applied() { set(settings_); }
  void log_opened() { set(log_); }
  void wait_for_settings() { wait(settings_); }
  void wait_for_log() { wait(log_); }

 private:
  void set(bool& flag) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      flag = true;
    }
    changed_.notify_all();
  }
  void wait(const bool& flag) {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return flag; });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool settings_ = false;
  bool log_ = false;
};

struct ServerState {
  char program_name[256] = "tavro";
  std::atomic<int> shutdown_requested{0};
  std::atomic<std::uint32_t> invalid_count{0};
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  char up_since[32] = "";
  std::atomic<platform::socket_t> listener{platform::kInvalidSocket};
  StartGate gate;
};

// The server thread's work: options, checks, listening socket, request loop.
// Returns -1 when no port is set, 0 otherwise.
int copt(Daemon& daemon, int count, const char* const* words);

// Milliseconds since start (monotonic).
std::int32_t uptime_ms(const Daemon& daemon);

// Reads the request of one connection until it is whole or its deadline has
// passed, serves it and closes the connection (the loop does this for many
// connections at once).
void serve_connection(Daemon& daemon, platform::socket_t connection, char* buffer);

// Shuts a connection down for sending, drains what the client still sends
// (bounded) and closes it.
void close_connection(Daemon& daemon, platform::socket_t connection);

// The stop sequence for a stop signal; ends the process with status 0.
[[noreturn]] void signal_shutdown(Daemon& daemon, int signal);

// Runs at every normal process exit.
void exit_cleanup(Daemon& daemon);

}  // namespace tavro
