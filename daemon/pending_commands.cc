#include "daemon/pending_commands.h"

#include <cstdio>

namespace tavro {

int format_http_stats(const HttpCounters& c, char* out, std::size_t cap) {
  const char s = ';';
  return std::snprintf(out, cap,
                       "GET%c%d%cGET(htmls)%c%d%cGET(images)%c%d%cGET(java)%c%d%c"
                       "GET(other)%c%d%cGET(errors)%c%d",
                       s, static_cast<int>(c.requests), s, s, static_cast<int>(c.htmls), s, s,
                       static_cast<int>(c.images), s, s, static_cast<int>(c.java), s, s,
                       static_cast<int>(c.other), s, s, static_cast<int>(c.errors));
}

int format_prefix_stats(const char* prefix, std::uint32_t count, char* out, std::size_t cap) {
  return std::snprintf(out, cap, "%s%c%d", prefix, ';', static_cast<int>(count));
}

}  // namespace tavro
