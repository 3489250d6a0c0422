#include "daemon/pending_commands.h"

#include <cstdio>

namespace tavro {

int format_prefix_stats(const char* prefix, std::uint32_t count, char* out, std::size_t cap) {
  return std::snprintf(out, cap, "%s%c%d", prefix, ';', static_cast<int>(count));
}

}  // namespace tavro
