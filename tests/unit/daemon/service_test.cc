#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "daemon/daemon.h"
#include "daemon/service_commands.h"

namespace tavro {
namespace {

TEST(ConfigAndStatsReplies, AreCutToTheBufferAndNeverWrittenPastIt) {
  Daemon d;
  char out[64 + 8];
  std::memset(out, '#', sizeof out);
  std::size_t n = build_config_reply(d, out, 64);
  EXPECT_LE(n, 63u);
  EXPECT_EQ(out[n], '\0');
  EXPECT_EQ(std::string(out, 15), "Up since;;Revis");
  EXPECT_EQ(std::string(out + 64, 8), std::string(8, '#'));
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(build_stats_reply(d, out, 40), 39u);
  EXPECT_EQ(std::string(out, 39), "GET;0;GET(htmls);0;GET(images);0;GET(ja");
  EXPECT_EQ(std::string(out + 40, 4), "####");
}

}  // namespace
}  // namespace tavro
