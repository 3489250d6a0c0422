#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "daemon/daemon.h"
#include "daemon/service_commands.h"

namespace tavro {
namespace {

TEST(ServiceReplies, AreCutToTheBufferAndNeverWrittenPastIt) {
  const struct {
    std::size_t (*build)(const Daemon&, char*, std::size_t);
    std::size_t size;
    const char* start;
  } rows[] = {{build_config_reply, 64, "Up since;;Revis"},
              {build_stats_reply, 40, "GET;0;GET(htmls);0;GET(images);0;GET(ja"}};
  Daemon d;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.start);
    char out[64 + 8];
    std::memset(out, '#', sizeof out);
    std::size_t n = row.build(d, out, row.size);
    EXPECT_LE(n, row.size - 1);
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(std::string(out, std::strlen(row.start)), row.start);
    EXPECT_EQ(std::string(out + row.size, 8), std::string(8, '#'));
  }
}

}  // namespace
}  // namespace tavro
