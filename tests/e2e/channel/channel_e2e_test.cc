// The daemon opens its driver channel at start-up and closes it when it
// stops; the event log tells what happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/daemon_process.h"

namespace {

namespace fs = std::filesystem;
using namespace tavro::testing;

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A daemon logging events of these flags to events.log in its own directory.
DaemonOptions logged(const std::string& flags) {
  DaemonOptions o;
  o.working_dir = make_temp_dir();
  write_file(o.working_dir + "/events.log", "");
  o.args = {"-fclog", "events.log", "-fclf", flags};
  return o;
}

TEST(ChannelEndToEnd, DaemonRegistersWithTheDriverAndClosesOnStop) {
  DaemonOptions o = logged("8");
  std::string log_path = o.working_dir + "/events.log";
  DaemonProcess daemon(o);
  ASSERT_TRUE(wait_for_text(log_path, "Registration completed"));
  EXPECT_EQ(daemon.stop(15), 0);
  std::string log = read_file(log_path);
  EXPECT_EQ(count(log, "LXS NOTCE: Message Library loaded\n"), 1);
  EXPECT_EQ(count(log, "LXS NOTCE: Initialization completed\n"), 1);
  ASSERT_EQ(count(log, "LXS NOTCE: Registration completed\n"), 1);
  std::string after = log.substr(log.rfind("LXS NOTCE: Registration completed"));
  EXPECT_EQ(count(after, "***** Halted *****"), 2);
  EXPECT_EQ(count(after, "Program exiting"), 1);
}

TEST(ChannelEndToEnd, MissingLibraryIsLoggedAndTheDaemonServesOn) {
  // A copy of the daemon in a directory of its own does not find the library.
  DaemonOptions o = logged("31");
  std::string alone = make_temp_dir();
  fs::copy_file(binary_dir() + "/tavro", alone + "/tavro");
  o.program = alone + "/tavro";
  DaemonProcess daemon(o);
  ASSERT_TRUE(wait_for_text(o.working_dir + "/events.log", "Driver file not found!"));
  std::string log = read_file(o.working_dir + "/events.log");
  EXPECT_EQ(count(log, "LXS ERROR: Driver file not found! (QFCMsgLib.dll) - error(2)\n"), 1);
  EXPECT_EQ(count(log, "Registration completed"), 0);
  EXPECT_NE(request(daemon.port(), "REV\n"), "");
  EXPECT_EQ(daemon.stop(15), 0);
  fs::remove_all(alone);
}

}  // namespace
