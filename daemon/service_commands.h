// REV, ECHO, STATS and CONFIG: the daemon's own state, always answered.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/revision.h"
#include "platform/net.h"

namespace tavro {

struct Daemon;

struct ServiceCounters {
  std::uint32_t rev = 0;
  std::uint32_t echo = 0;
  std::uint32_t stats = 0;
  std::uint32_t config = 0;
};

int rev_request(Daemon& daemon, platform::socket_t s, char* message);
int echo_request(Daemon& daemon, platform::socket_t s, char* message);
int stats_request(Daemon& daemon, platform::socket_t s, char* message);
int config_request(Daemon& daemon, platform::socket_t s, char* message);

// Builds the replies into out (cap bytes, terminated); return their lengths.
std::size_t build_stats_reply(const Daemon& daemon, char* out, std::size_t cap);
std::size_t build_config_reply(const Daemon& daemon, char* out, std::size_t cap);

}  // namespace tavro
