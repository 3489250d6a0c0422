// Start-up, the request loop and the stop sequence of the daemon.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/net.h"

namespace tavro {

struct Daemon;

inline constexpr int kMaxWords = 128;  // the program word and up to 127 arguments
// A client that keeps streaming after its request is cut off after this many bytes.
inline constexpr std::size_t kDrainLimit = 1 << 20;

struct ServerState {
  char program_name[256] = "tavro";
  std::atomic<int> shutdown_requested{0};
  std::atomic<std::uint32_t> invalid_count{0};
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  char up_since[32] = "";
  std::atomic<platform::socket_t> listener{platform::kInvalidSocket};
};

// The server thread's work: options, checks, listening socket, request loop.
// Returns -1 when no port is set, 0 otherwise.
int copt(Daemon& daemon, int count, const char* const* words);

// Milliseconds since start (monotonic).
std::int32_t uptime_ms(const Daemon& daemon);

// One pass of the request loop for an accepted connection; closes it.
void serve_connection(Daemon& daemon, platform::socket_t connection, char* buffer);

// Shuts a connection down for sending, drains what the client still sends
// (bounded) and closes it.
void close_connection(Daemon& daemon, platform::socket_t connection);

// The stop sequence for a stop signal; ends the process with status 0.
[[noreturn]] void signal_shutdown(Daemon& daemon, int signal);

// Runs at every normal process exit.
void exit_cleanup(Daemon& daemon);

}  // namespace tavro
