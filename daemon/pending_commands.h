// Counters and placeholder handlers of the commands whose subsystems are not
// built yet: each counts its requests and sends nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"

namespace tavro {

struct PendingCommands {
  std::uint32_t hbaapi_count = 0;
};

// "<prefix>;<count>", the prefix with its trailing blank.
int format_prefix_stats(const char* prefix, std::uint32_t count, char* out, std::size_t cap);

}  // namespace tavro
