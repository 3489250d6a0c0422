// REV, ECHO, STATS and CONFIG as a client sees them, and how the request loop
// cuts requests and counts the ones it does not know.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string kGetRow =
    "GET;0;GET(htmls);0;GET(images);0;GET(java);0;GET(other);0;GET(errors);0";

// The rows of a data file of a request, sent as it stands, and its reply.
std::vector<Exchange> rows(const std::string& path, const Vars& vars) {
  std::vector<Exchange> out;
  for (const auto& row : read_rows(path, vars))
    out.push_back({row[0], row.size() > 1 ? row[1] : ""});
  return out;
}

TEST(ServiceCommands, RepliesCountsAndConfigOfOneConversation) {
  DaemonProcess d({});
  const Vars vars = {
      {"GET_ROW", kGetRow}, {"CR", "\r"}, {"LF", "\n"}, {"NUL", std::string(1, '\0')}};
  EXPECT_EQ("", mismatches(d.port(), rows("e2e/daemon/conversation.txt", vars)));
  request(d.port(), "LOGREAD 0 1");
  EXPECT_EQ("", mismatches(d.port(), rows("e2e/daemon/counted.txt", vars)));
  // CONFIG lists every setting in table order.
  std::string reply = request(d.port(), "CONFIG");
  char port[32];
  std::snprintf(port, sizeof port, "%d \\(0x%x\\)", d.port(), d.port());
  std::regex expected(
      "^Up since;[A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4};Revision;3\\.3 Build 43;"
      "ConfName;;Port;" +
      std::string(port) +
      ";BaseDir;;ClassDir;;ImageDir;;DefaultHtml;;ErrorHtml;;Debug;0 \\(0x0\\);"
      "GetReq;enabled;RevReq;enabled;EchoReq;enabled;StatsReq;enabled;DebugReq;disabled;"
      "ConfReq;disabled;LogFile;;LogOpen;0 \\(0x0\\);LogFlags;0 \\(0x0\\);FcLogFile;;"
      "FcLogOpen;0 \\(0x0\\);FcLogFlags;0 \\(0x0\\);FcGetReq;disabled;FcSetReq;disabled;"
      "HbaApiReq;disabled;HbaApiLib;HBAAPI;RecvTimeOut;12 \\(0xc\\)$");
  EXPECT_TRUE(std::regex_match(reply, expected)) << reply;
}

}  // namespace
}  // namespace tavro::testing
