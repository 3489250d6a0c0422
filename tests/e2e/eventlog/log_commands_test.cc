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
// channel's opening at start-up and ends with the halt and exit records, with
// no start marker for the reopening at exit.
TEST_F(LogsTest, RequestAndEventLogsOfOneRun) {
  write_file(events_, "previous\n");
  DaemonProcess d(options({"-fclo", "2"}));
  request(d.port(), "REV");
  request(d.port(), "ECHO " + std::string(300, 'x'));  // its note is cut to 255 characters
  request(d.port(), "bogus");
  request(d.port(), "CONFIG");  // not noted: its bit is not set
  ASSERT_TRUE(wait_for_text(events_, "Registration completed"));
  EXPECT_EQ(d.stop(15), 0);
  std::string peer = "(localhost|127\\.0\\.0\\.1)";
  std::regex requests("\\*{5} Started - " + kStamp + " - \\*{5}\n" + kStamp + ": " + peer +
                      " - REV\n" + kStamp + ": " + peer + " - ECHO x{237}\n" + kStamp + ": " +
                      peer + " - INVMSG\\(1\\): bogus\n" + kStamp +
                      ": \\*{5} Halted - signal\\(15\\) \\*{5}\n");
  std::string log = read_file(requests_);
  EXPECT_TRUE(std::regex_match(log, requests)) << log;
  EXPECT_EQ(read_file(events_ + ".old"), "previous\n");
  log = read_file(events_);
  std::string notice = kStamp + " LXS NOTCE: ";
  std::regex events(notice + "\\*{5} Started \\*{5}\n" + notice +
                    "Message Library loaded: /.*/libQFCMsgLib\\.so\n" + notice +
                    "Initialization completed\n" + notice + "Registration completed\n" + notice +
                    "\\*{5} Halted \\*{5}\n" + notice + "Program exiting\n" + notice +
                    "\\*{5} Halted \\*{5}\n");
  EXPECT_TRUE(std::regex_match(log, events)) << log;
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
