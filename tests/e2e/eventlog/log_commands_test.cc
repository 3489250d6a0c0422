// The logs as an administrator sees them: files on disk and the remote reads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string kStamp = "[A-Z][a-z]{2} [0-3]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}";

class LogsTest : public ::testing::Test {
 protected:
  LogsTest() {
    write_file(requests_, "");
    write_file(events_, "");
  }
  DaemonOptions options(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"-log",   requests_, "-lf",   "0x1000F1",
                                  "-fclog", events_,   "-fclf", "8"};
    args.insert(args.end(), extra.begin(), extra.end());
    return DaemonOptions{.args = args, .working_dir = dir_};
  }
  std::string dir_ = make_temp_dir();
  std::string requests_ = dir_ + "/requests.log";
  std::string events_ = dir_ + "/events.log";
};

// Requests are noted with the peer, cut to a record, and the stop is logged.
// The previous run's event log is kept as .old; the new one holds the driver
// channel's opening at start-up and ends with the halt and exit records.
TEST_F(LogsTest, RequestAndEventLogsOfOneRun) {
  write_file(events_, "previous\n");
  DaemonProcess d(options({"-fclo", "2"}));
  request(d.port(), "REV");
  request(d.port(), "ECHO " + std::string(300, 'x'));
  request(d.port(), "bogus");
  request(d.port(), "CONFIG");  // not noted: its bit is not set
  ASSERT_TRUE(wait_for_text(events_, "Registration completed"));
  EXPECT_EQ(d.stop(15), 0);
  const Vars vars = {
      {"STAMP", kStamp}, {"PEER", "(localhost|127\\.0\\.0\\.1)"}, {"N", "LXS NOTCE: "}};
  std::string want[2];  // one_run.txt: the requests' lines, the events' lines
  for (const auto& row : read_rows("e2e/eventlog/one_run.txt", vars))
    want[row.at(0) == "events"] += row.at(1) + "\n";
  std::string log = read_file(requests_);
  EXPECT_TRUE(std::regex_match(log, std::regex(want[0]))) << log;
  EXPECT_EQ(read_file(events_ + ".old"), "previous\n");
  log = read_file(events_);
  EXPECT_TRUE(std::regex_match(log, std::regex(want[1]))) << log;
}

TEST_F(LogsTest, LogsizeAndLogreadReadTheRequestLogRemotely) {
  write_file(requests_, std::string(40, 'L') + std::string(9960, 'x'));
  DaemonProcess d(options({"-lf", "0"}));
  EXPECT_EQ(request(d.port(), "LOGREAD 0 9999").size(), 4095u);
  const Vars vars = {
      {"L40", std::string(40, 'L')}, {"X60", std::string(60, 'x')}, {"X10", "xxxxxxxxxx"}};
  EXPECT_EQ(mismatches(d.port(), read_exchanges("e2e/eventlog/logread.txt", vars)), "");
}

TEST(LogsizeWithoutFile, AnswersTheFileStatusError) {
  std::string dir = make_temp_dir();
  DaemonProcess d({.args = {"-log", dir + "/absent.log"}});
  EXPECT_EQ(request(d.port(), "LOGSIZE"), "Error:  2 - No such file or directory");
  EXPECT_EQ(request(d.port(), "LOGREAD 0 10"), "Error: lxs_fread() Open failed");
}

TEST_F(LogsTest, EventLogSettingsOfASlowConfigurationFileAreApplied) {
  write_file(events_, "previous\n");
  std::string conf = dir_ + "/slow.conf";
  ASSERT_EQ(::mkfifo(conf.c_str(), 0600), 0);
  std::thread writer([&] {
    std::FILE* slow = std::fopen(conf.c_str(), "w");
    std::fprintf(slow, "FcLogFile %s\nFcLogFlags 8\n", events_.c_str());
    std::fflush(slow);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::fprintf(slow, "FcLogOpen 2\n");
    std::fclose(slow);
  });
  DaemonProcess d({.args = {"-c", conf}, .working_dir = dir_});
  writer.join();
  ASSERT_TRUE(wait_for_text(events_, "Started"));
  EXPECT_EQ(d.stop(15), 0);
  EXPECT_EQ(read_file(events_ + ".old"), "previous\n");
}

}  // namespace
}  // namespace tavro::testing
