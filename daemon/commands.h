// The command table: a request is served by the first row whose prefix it
// begins with.
#pragma once

#include <cstddef>
#include <cstdint>

#include "daemon/settings.h"
#include "platform/net.h"

namespace tavro {

struct Daemon;

struct CommandRow {
  const char* prefix;
  // Serves the request and sends its own reply; the result is not used.
  int (*handler)(Daemon& daemon, platform::socket_t s, char* message);
  // Writes the command's counters for STATS at the start of out.
  int (*stats_formatter)(const Daemon& daemon, char* out, std::size_t cap);
  // Run once when the daemon stops on a signal.
  void (*cleanup)(Daemon& daemon);
  // The enable setting the handler consults itself.
  std::int32_t Settings::*enable_flag;
  // The command may change a setting (the debug page runs any command): a
  // request that ended on the quiet time alone, whose text may still have been
  // on its way, is refused rather than applied.
  bool needs_end = false;
};

extern const CommandRow command_table[];

const CommandRow* find_command(const char* request);

// The "FCGET " row's clean-up: driver channel, adapter devices, event log.
void close_driver_resources(Daemon& daemon);

}  // namespace tavro
