// REV, ECHO, STATS and CONFIG as a client sees them.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

TEST(Rev, AnswersTheRevisionWhateverFollows) {
  DaemonProcess d({});
  EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
  EXPECT_EQ(request(d.port(), "REVISION please"), "3.3 Build 43");
}

TEST(Echo, AnswersTheTextAfterTheCommandWord) {
  DaemonProcess d({});
  EXPECT_EQ(request(d.port(), "ECHO hello"), " hello");
  EXPECT_EQ(request(d.port(), "ECHOhello"), "hello");
  EXPECT_EQ(request(d.port(), "ECHO"), "");
}

TEST(Stats, FirstRequestCountsItself) {
  DaemonProcess d({});
  EXPECT_EQ(request(d.port(), "STATS"),
            "GET;0;GET(htmls);0;GET(images);0;GET(java);0;GET(other);0;GET(errors);0;"
            "FCGET ;0;FCSET ;0;HBAAPI ;0;REV;0;ECHO;0;STATS;1;CONFIG;0;LOGSIZE;0;LOGREAD;0;"
            "INVMSG;0");
}

TEST(Stats, CountsEveryCommandAndAnswersForOne) {
  DaemonProcess d({});
  request(d.port(), "REV");
  request(d.port(), "REV");
  request(d.port(), "ECHO x");
  request(d.port(), "LOGREAD 0 1");
  request(d.port(), "nothing");
  EXPECT_EQ(request(d.port(), "STATS REV"), "REV;2");
  EXPECT_EQ(request(d.port(), "STATS LOGSIZE"), "LOGSIZE;0;LOGREAD;1");
  EXPECT_EQ(request(d.port(), "STATS LOGREAD"), "LOGREAD:nostat");
  EXPECT_EQ(request(d.port(), "STATS GET"), "GET -invalid message");
  EXPECT_EQ(request(d.port(), "STATS GET "),
            "GET;0;GET(htmls);0;GET(images);0;GET(java);0;GET(other);0;GET(errors);0");
  EXPECT_EQ(request(d.port(), "STATS FCGET "), "FCGET ;0");
  EXPECT_EQ(request(d.port(), "STATSX"),
            "GET;0;GET(htmls);0;GET(images);0;GET(java);0;GET(other);0;GET(errors);0;"
            "FCGET ;0;FCSET ;0;HBAAPI ;0;REV;2;ECHO;1;STATS;7;CONFIG;0;LOGSIZE;0;LOGREAD;1;"
            "INVMSG;1");
}

TEST(Config, ConfigurationFileAndCommandLineTakeTurns) {
  std::string dir = make_temp_dir();
  int from_file = free_port();
  write_file(dir + "/tavro.conf", "Port " + std::to_string(from_file) + "\nConfReq on\n");
  DaemonProcess d({.args = {"-port", "1", "-c", dir + "/tavro.conf", "-rxto", "5"},
                   .add_port = false,
                   .port = from_file});
  std::string reply = request(from_file, "CONFIG");
  EXPECT_NE(reply.find(";ConfName;" + dir + "/tavro.conf;"), std::string::npos) << reply;
  EXPECT_NE(reply.find(";ConfReq;enabled;"), std::string::npos) << reply;
  EXPECT_NE(reply.find(";RecvTimeOut;5 (0x5)"), std::string::npos) << reply;
}

TEST(Config, ListsEverySettingInTableOrder) {
  DaemonProcess d({});
  std::string reply = request(d.port(), "CONFIG");
  std::string port = std::to_string(d.port());
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", d.port());
  std::regex expected(
      "^Up since;[A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4};Revision;3\\.3 Build 43;"
      "ConfName;;Port;" +
      port + " \\(0x" + hex +
      "\\);BaseDir;;ClassDir;;ImageDir;;DefaultHtml;;ErrorHtml;;Debug;0 \\(0x0\\);"
      "GetReq;enabled;RevReq;enabled;EchoReq;enabled;StatsReq;enabled;DebugReq;disabled;"
      "ConfReq;disabled;LogFile;;LogOpen;0 \\(0x0\\);LogFlags;0 \\(0x0\\);FcLogFile;;"
      "FcLogOpen;0 \\(0x0\\);FcLogFlags;0 \\(0x0\\);FcGetReq;disabled;FcSetReq;disabled;"
      "HbaApiReq;disabled;HbaApiLib;HBAAPI;RecvTimeOut;12 \\(0xc\\)$");
  EXPECT_TRUE(std::regex_match(reply, expected)) << reply;
}

}  // namespace
}  // namespace tavro::testing
