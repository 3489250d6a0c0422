#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "daemon/daemon.h"
#include "daemon/service_commands.h"

namespace tavro {
namespace {

TEST(ConfigReply, DefaultSettingsWithPort80) {
  Daemon d;
  d.settings.port = 80;
  char out[4097];
  std::size_t n = build_config_reply(d, out, sizeof out);
  std::string reply(out, n);
  const std::string tail =
      "ConfName;;Port;80 (0x50);BaseDir;;ClassDir;;ImageDir;;DefaultHtml;;ErrorHtml;;"
      "Debug;0 (0x0);GetReq;enabled;RevReq;enabled;EchoReq;enabled;StatsReq;enabled;"
      "DebugReq;disabled;ConfReq;disabled;LogFile;;LogOpen;0 (0x0);LogFlags;0 (0x0);"
      "FcLogFile;;FcLogOpen;0 (0x0);FcLogFlags;0 (0x0);FcGetReq;disabled;FcSetReq;disabled;"
      "HbaApiReq;disabled;HbaApiLib;HBAAPI;RecvTimeOut;12 (0xc)";
  EXPECT_EQ(reply, "Up since;;Revision;3.3 Build 43;" + tail);
}

TEST(ConfigReply, IsCutToTheBufferAndNeverWrittenPastIt) {
  Daemon d;
  char out[64 + 8];
  std::memset(out, '#', sizeof out);
  std::size_t n = build_config_reply(d, out, 64);
  EXPECT_LE(n, 63u);
  EXPECT_EQ(out[n], '\0');
  EXPECT_EQ(std::string(out, 15), "Up since;;Revis");
  EXPECT_EQ(std::string(out + 64, 8), std::string(8, '#'));
}

TEST(StatsReply, IsCutToTheBufferAndNeverWrittenPastIt) {
  Daemon d;
  char out[40 + 4];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(build_stats_reply(d, out, 40), 39u);
  EXPECT_EQ(std::string(out, 39), "GET;0;GET(htmls);0;GET(images);0;GET(ja");
  EXPECT_EQ(std::string(out + 40, 4), "####");
}

}  // namespace
}  // namespace tavro
