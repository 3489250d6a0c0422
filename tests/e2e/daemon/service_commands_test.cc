// REV, ECHO, STATS and CONFIG as a client sees them, and how the request loop
// cuts requests and counts the ones it does not know.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string kGetRow =
    "GET;0;GET(htmls);0;GET(images);0;GET(java);0;GET(other);0;GET(errors);0";

TEST(ServiceCommands, RepliesCountsAndConfigOfOneConversation) {
  DaemonProcess d({});
  EXPECT_EQ("",
            mismatches(d.port(),
                       {
                           // The first request counts itself.
                           {"STATS", kGetRow + ";FCGET ;0;FCSET ;0;HBAAPI ;0;REV;0;ECHO;0;STATS;1;"
                                               "CONFIG;0;LOGSIZE;0;LOGREAD;0;INVMSG;0"},
                           {"REV", "3.3 Build 43"},
                           {"REVISION please", "3.3 Build 43"},
                           {"ECHO hello", " hello"},
                           {"ECHOhello", "hello"},
                           {"ECHO", ""},
                           // A request ends at the first line end or NUL.
                           {"REV\r\n", "3.3 Build 43"},
                           {"ECHO one\ntwo", " one"},
                           {"ECHO one\rtwo", " one"},
                           {std::string("ECHO a\0b", 8), " a"},
                           // Unknown requests get no reply.
                           {"\r\nREV", ""},
                           {"GET", ""},
                           {"rev", ""},
                           {"LOGSIZE", "Error: fn=NULL"},  // no request log
                       }));
  request(d.port(), "LOGREAD 0 1");
  EXPECT_EQ("",
            mismatches(d.port(),
                       {
                           {"STATS REV", "REV;3"},
                           {"STATS LOGSIZE", "LOGSIZE;1;LOGREAD;1"},
                           {"STATS LOGREAD", "LOGREAD:nostat"},
                           {"STATS GET", "GET -invalid message"},
                           {"STATS GET ", kGetRow},
                           {"STATS FCGET ", "FCGET ;0"},
                           // Disabled commands name themselves (two blanks) and still count.
                           {"FCGET .1.3.6.1.4.1.48217.3.3.1.0", "Error: FCGET  disabled"},
                           {"FCSET .1.3.6.1.4.1.48217.3.2.11.0 1", "Error: FCSET  disabled"},
                           {"HBAAPI 3.0", "Error: Requests disabled."},
                           {"STATSX", kGetRow + ";FCGET ;1;FCSET ;1;HBAAPI ;1;REV;3;ECHO;6;STATS;8;"
                                                "CONFIG;0;LOGSIZE;1;LOGREAD;1;INVMSG;3"},
                       }));
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
