// The request loop seen from a client: what is read, what is cut, who is
// dropped, and how the daemon starts and stops.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string kUnended = "Error: No line end; request not applied";

// True when the daemon closes the connection (within ten seconds).
bool closed_by_daemon(int fd) {
  pollfd p{fd, POLLIN, 0};
  char byte;
  return ::poll(&p, 1, 10000) == 1 && ::recv(fd, &byte, 1, 0) == 0;
}

TEST(RequestLoop, SilentClientsHoldOnlyThemselvesAndRequestsAreServedAsTheyCome) {
  std::string dir = make_temp_dir();
  write_file(dir + "/big.html", std::string(8 << 20, 'x'));
  write_file(dir + "/r.log", "");
  DaemonProcess d({.args = {"-rxto", "3", "-base", dir, "-log", dir + "/r.log", "-lf", "0x40"}});
  std::vector<int> silent;
  for (int i = 0; i < 9; ++i) silent.push_back(connect_to(d.port()));
  EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
  // A client that does not read its reply holds the daemon; the requests
  // that came meanwhile (without a line end) are served in the order they came.
  int slow = connect_to(d.port());
  send_text(slow, "GET /big.html HTTP/1.0\r\n\r\n");
  for (int i : {3, 0, 2}) {
    std::this_thread::sleep_for(150ms);
    send_text(silent[i], "ECHO " + std::to_string(i));
  }
  EXPECT_GT(read_all(slow).size(), 8u << 20);
  // The others are dropped at their own deadline without a reply.
  for (int i = 0; i < 9; ++i) {
    bool asked = i == 0 || i == 2 || i == 3;
    EXPECT_EQ(read_all(silent[i]), asked ? " " + std::to_string(i) : "") << i;
  }
  std::string log = read_file(dir + "/r.log");
  auto at = [&](int i) { return log.find("ECHO " + std::to_string(i)); };
  EXPECT_TRUE(at(3) < at(0) && at(0) < at(2) && at(2) != std::string::npos) << log;
  for (int s : silent) ::close(s);
  ::close(slow);
  std::string stats = request(d.port(), "STATS");
  EXPECT_TRUE(stats.ends_with(";INVMSG;0")) << stats;
}

// A write split at every position, its pieces a pause apart, is applied
// whole or, when the pause outlasts the quiet time, not at all.
TEST(RequestLoop, ASplitWriteIsAppliedWholeOrNotAtAll) {
  DaemonProcess d({.args = {"-fcset", "enabled", "-rxto", "30"}});
  const std::string text =
      "FCSET .1.3.6.1.4.1.48217.3.4.9.1.2.200000E08B010203.2000002037A1B2C3 2048\n";
  const std::string whole = request(d.port(), text);
  ASSERT_EQ(whole, "200000E08B010203.2000002037A1B2C3 2048");
  EXPECT_EQ(request(d.port(), text.substr(0, text.size() - 1) + "\r"), whole);
  for (auto gap : {200ms, 1000ms}) {
    std::vector<int> clients;
    for (std::size_t at = 1; at < text.size(); ++at) {
      clients.push_back(connect_to(d.port()));
      send_text(clients.back(), text.substr(0, at));
    }
    std::this_thread::sleep_for(gap);
    for (std::size_t at = 1; at < text.size(); ++at) send_text(clients[at - 1], text.substr(at));
    for (std::size_t at = 1; at < text.size(); ++at) {
      const std::string reply = read_all(clients[at - 1]);
      ::close(clients[at - 1]);
      // Before the blank after FCSET, the first piece is no command at all.
      EXPECT_TRUE(reply == whole || reply == kUnended || (at < 6 && reply.empty()))
          << "split at " << at << ", " << gap.count() << " ms: " << reply;
    }
  }
}

// A request is cut at 4096 bytes and the rest drained; at most 64 clients
// wait, and a new one closes the oldest that has sent nothing.
TEST(RequestLoop, CutAt4096AndAtMost64WaitOldestSilentClosedFirst) {
  DaemonProcess d({.args = {"-rxto", "30"}});
  std::string text = "ECHO" + std::string(4092, 'x');
  EXPECT_EQ(request(d.port(), text), text.substr(4));
  int s = connect_to(d.port());
  send_text(s, "ECHO" + std::string(200000, 'y'));
  EXPECT_EQ(read_all(s).size(), 4092u);
  ::close(s);
  s = connect_to(d.port());  // half a request, then a reset: nobody to answer
  send_text(s, "FCGET .1.3.6");
  close_with_reset(s);
  std::vector<int> waiting;
  for (int i = 0; i < 64; ++i) waiting.push_back(connect_to(d.port()));
  send_text(waiting[0], "ECHO 0");  // half a request: no longer silent
  int newer = connect_to(d.port());
  EXPECT_TRUE(closed_by_daemon(waiting[1]));
  send_text(newer, "REV\n");
  EXPECT_EQ(read_all(newer), "3.3 Build 43");
  EXPECT_EQ(read_all(waiting[0]), " 0");
  pollfd still{waiting[2], POLLIN, 0};
  EXPECT_EQ(::poll(&still, 1, 200), 0);
  for (int fd : waiting) ::close(fd);
  ::close(newer);
}

// Standard output broken or closed: the daemon serves on, and the request
// log does not take the closed descriptors.
TEST(StartAndStop, BrokenOrClosedStandardOutputIsSurvivedAndNotTakenByTheRequestLog) {
  for (auto output : {DaemonOptions::Output::kBrokenPipe, DaemonOptions::Output::kClosed}) {
    std::string dir = make_temp_dir();
    write_file(dir + "/requests.log", "");
    DaemonProcess d({.args = {"-d", "0x40000001", "-log", dir + "/requests.log", "-lf", "0x11"},
                     .output = output});
    EXPECT_EQ(request(d.port(), "ECHO still here"), " still here");
    std::string log = request(d.port(), "LOGREAD 0 4095");
    EXPECT_EQ(log.rfind("***** Started - ", 0), 0u) << log;
    EXPECT_EQ(log.find("Waiting for incoming message"), std::string::npos) << log;
    EXPECT_EQ(d.stop(15), 0);
  }
}

TEST(StartAndStop, FaultyStartsEndWithTheirStatusAndMessage) {
  DaemonProcess first({});
  for (auto row : read_rows("e2e/daemon/faulty_starts.txt",
                            {{"PORT", std::to_string(first.port())}, {"NL", "\n"}})) {
    std::vector<std::string> args;
    std::istringstream words(row[2]);
    for (std::string w; words >> w;) args.push_back(w);
    DaemonProcess d({.args = args, .add_port = row[1] == "port", .wait_ready = false});
    EXPECT_EQ(d.wait_exit(), std::stoi(row[0])) << row[2];
    for (std::size_t i = 3; i < row.size(); ++i)
      EXPECT_NE(d.output().find(row[i]), std::string::npos) << d.output();
  }
}

TEST(StartAndStop, StopSignalsEndTheDaemonWithStatusZero) {
  for (auto [signal, client] :
       {std::pair{2, false}, {15, false}, {6, false}, {8, false}, {15, true}}) {
    DaemonProcess d({});
    EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
    int silent = client ? connect_to(d.port()) : -1;  // a client that never sends
    EXPECT_EQ(d.stop(signal), 0) << "signal " << signal << (client ? " with a client" : "");
    EXPECT_LT(connect_to(d.port()), 0);
    if (silent >= 0) ::close(silent);
  }
}

// REV, ECHO, STATS and CONFIG as a client sees them, and how the request loop
// cuts requests and counts the ones it does not know.
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
