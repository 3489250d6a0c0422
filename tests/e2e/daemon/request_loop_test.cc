// The request loop seen from a client: what is read, what is cut, who is
// dropped, and how the daemon starts and stops.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

std::string stats(int port) {
  return request(port, "STATS");
}

std::string field(const std::string& stats_reply, const std::string& name) {
  auto at = stats_reply.find(name + ";");
  if (at == std::string::npos) return "";
  auto start = at + name.size() + 1;
  return stats_reply.substr(start, stats_reply.find(';', start) - start);
}

TEST(RequestLoop, RequestIsCutAtTheFirstLineEnd) {
  DaemonProcess d({});
  EXPECT_EQ(request(d.port(), "REV\r\n"), "3.3 Build 43");
  EXPECT_EQ(request(d.port(), "ECHO one\ntwo"), " one");
  EXPECT_EQ(request(d.port(), std::string("ECHO a\0b", 8)), " a");
}

TEST(RequestLoop, UnknownRequestsAreCountedAndGetNoReply) {
  DaemonProcess d({});
  EXPECT_EQ(request(d.port(), "\r\nREV"), "");
  EXPECT_EQ(request(d.port(), "GET"), "");
  EXPECT_EQ(request(d.port(), "rev"), "");
  EXPECT_EQ(field(stats(d.port()), "INVMSG"), "3");
}

TEST(RequestLoop, LongRequestIsCutAt4096BytesAndTheRestDrained) {
  DaemonProcess d({});
  std::string text = "ECHO" + std::string(4092, 'x');
  EXPECT_EQ(request(d.port(), text), text.substr(4));
  int s = connect_to(d.port());
  std::string big = "ECHO" + std::string(200000, 'y');
  ::send(s, big.data(), big.size(), MSG_NOSIGNAL);
  std::string reply = read_all(s);
  ::close(s);
  EXPECT_EQ(reply.size(), 4092u);
  EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
}

TEST(RequestLoop, SilentClientIsDroppedAtTheReceiveDeadline) {
  DaemonProcess d({.args = {"-rxto", "1"}});
  int silent = connect_to(d.port());
  ASSERT_GE(silent, 0);
  // The daemon serves one connection at a time: this request waits for the
  // silent one to be dropped, then is served.
  std::thread later([&] { EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43"); });
  EXPECT_EQ(read_all(silent), "");
  ::close(silent);
  later.join();
  EXPECT_EQ(field(stats(d.port()), "INVMSG"), "0");
}

TEST(RequestLoop, RequestInTwoPiecesIsServedFromTheFirstPiece) {
  DaemonProcess d({});
  int s = connect_to(d.port());
  ::send(s, "ECHO first", 10, MSG_NOSIGNAL);
  std::string reply = read_all(s);
  ::send(s, " second", 7, MSG_NOSIGNAL);
  ::close(s);
  EXPECT_EQ(reply, " first");
}

TEST(RequestLoop, ClientThatResetsBeforeTheReplyDoesNotStopTheDaemon) {
  std::string dir = make_temp_dir();
  write_file(dir + "/requests.log", "");
  DaemonProcess d({.args = {"-log", dir + "/requests.log"}});
  for (int i = 0; i < 20; ++i) {
    int s = connect_to(d.port());
    std::string big = "STATS " + std::string(3000, 'z');
    ::send(s, big.data(), big.size(), MSG_NOSIGNAL);
    struct linger l {
      1, 0
    };
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(s);
  }
  EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
  EXPECT_TRUE(d.running());
}

TEST(StartAndStop, BrokenStandardOutputDoesNotStopTheDaemon) {
  DaemonProcess d({.args = {"-d", "0x40000001"}, .output = DaemonOptions::Output::kBrokenPipe});
  EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
  EXPECT_EQ(request(d.port(), "ECHO still here"), " still here");
  EXPECT_EQ(d.stop(15), 0);
}

TEST(StartAndStop, ClosedStandardDescriptorsAreNotTakenByTheRequestLog) {
  std::string dir = make_temp_dir();
  write_file(dir + "/requests.log", "");
  DaemonProcess d({.args = {"-d", "0x40000001", "-log", dir + "/requests.log", "-lf", "0x11"},
                   .output = DaemonOptions::Output::kClosed});
  EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
  std::string log = request(d.port(), "LOGREAD 0 4095");
  EXPECT_EQ(log.rfind("***** Started - ", 0), 0u) << log;
  EXPECT_EQ(log.find("Waiting for incoming message"), std::string::npos) << log;
}

TEST(StartAndStop, NoPortMeansNoSocketAndAFailureStatus) {
  DaemonProcess d({.args = {"-rxto", "3"}, .add_port = false});
  EXPECT_EQ(d.wait_exit(), 1);
  EXPECT_NE(d.output().find("tavro: No port (socket) number specified - exiting.\n"),
            std::string::npos)
      << d.output();
}

TEST(StartAndStop, PortOutsideOneTo65535IsRefused) {
  for (const char* port : {"65536", "-1", "0x100000050"}) {
    DaemonProcess d({.args = {"-port", port}, .add_port = false});
    EXPECT_EQ(d.wait_exit(), 1) << port;
    EXPECT_NE(d.output().find(" is not between 1 and 65535 - exiting.\n"), std::string::npos)
        << d.output();
  }
}

TEST(StartAndStop, UnknownOptionPrintsUsageAndEndsWithStatusZero) {
  DaemonProcess d({.args = {"-nonsense", "1"}, .wait_ready = false});
  EXPECT_EQ(d.wait_exit(), 0);
  std::string out = d.output();
  EXPECT_NE(out.find("\nusage:\n\n  tavro [-option(s)]\n\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  -port     Port         HTTP port number        \n"), std::string::npos);
  EXPECT_NE(out.find("\nnotes:\n  1. Last instance of option prevails.\n\n"), std::string::npos);
}

TEST(StartAndStop, UnreadableConfigurationFileIsFatal) {
  DaemonProcess d({.args = {"-c", "/nonexistent/tavro.conf"}, .wait_ready = false});
  EXPECT_EQ(d.wait_exit(), 1);
  EXPECT_NE(d.output().find("conf(fopen(/nonexistent/tavro.conf)) (error "), std::string::npos)
      << d.output();
}

TEST(StartAndStop, PortInUseIsFatal) {
  DaemonProcess first({});
  DaemonProcess second({.args = {"-port", std::to_string(first.port())}, .add_port = false});
  EXPECT_EQ(second.wait_exit(), 1);
  EXPECT_NE(second.output().find("tavro: bind() (error 98)"), std::string::npos) << second.output();
}

TEST(StartAndStop, StopSignalsEndTheDaemonWithStatusZero) {
  for (int signal : {2, 15, 6, 8}) {
    DaemonProcess d({});
    EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
    EXPECT_EQ(d.stop(signal), 0) << "signal " << signal;
    EXPECT_LT(connect_to(d.port()), 0);
  }
}

TEST(StartAndStop, StopWhileAClientIsConnectedStillEnds) {
  DaemonProcess d({});
  int silent = connect_to(d.port());
  EXPECT_EQ(d.stop(15), 0);
  ::close(silent);
}

}  // namespace
}  // namespace tavro::testing
