// Counters and placeholder handlers of the commands whose subsystems are not
// built yet: each counts its requests and sends nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"

namespace tavro {

struct HttpCounters {
  std::uint32_t requests = 0;
  std::uint32_t htmls = 0;
  std::uint32_t images = 0;
  std::uint32_t java = 0;
  std::uint32_t other = 0;
  std::uint32_t errors = 0;
};

struct PendingCommands {
  HttpCounters http;
  std::uint32_t hbaapi_count = 0;
};

int format_http_stats(const HttpCounters& c, char* out, std::size_t cap);
// "<prefix>;<count>", the prefix with its trailing blank.
int format_prefix_stats(const char* prefix, std::uint32_t count, char* out, std::size_t cap);

}  // namespace tavro
