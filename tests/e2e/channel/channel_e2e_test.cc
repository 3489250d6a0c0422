// The daemon opens its driver channel at start-up and closes it when it
// stops; the event log tells what happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/daemon_process.h"

namespace {

namespace fs = std::filesystem;
using tavro::testing::DaemonOptions;
using tavro::testing::DaemonProcess;

// The file's text once it holds needle (or after a bounded wait).
std::string text_with(const std::string& path, const std::string& needle) {
  tavro::testing::wait_for_text(path, needle);
  return tavro::testing::read_file(path);
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

DaemonOptions logged(const std::string& flags) {
  DaemonOptions o;
  o.working_dir = tavro::testing::make_temp_dir();
  tavro::testing::write_file(o.working_dir + "/events.log", "");
  o.args = {"-fclog", "events.log", "-fclf", flags};
  return o;
}

TEST(ChannelEndToEnd, DaemonRegistersWithTheDriverAndClosesOnStop) {
  DaemonOptions o = logged("8");
  std::string log_path = o.working_dir + "/events.log";
  DaemonProcess daemon(o);
  std::string log = text_with(log_path, "Registration completed");
  EXPECT_EQ(count(log, "LXS NOTCE: Message Library loaded\n"), 1);
  EXPECT_EQ(count(log, "LXS NOTCE: Initialization completed\n"), 1);
  EXPECT_EQ(count(log, "LXS NOTCE: Registration completed\n"), 1);
  EXPECT_EQ(daemon.stop(15), 0);
  log = tavro::testing::read_file(log_path);
  auto end = log.rfind("LXS NOTCE: Registration completed");
  ASSERT_NE(end, std::string::npos);
  std::string after = log.substr(end);
  EXPECT_EQ(count(after, "***** Halted *****"), 2);
  EXPECT_EQ(count(after, "Program exiting"), 1);
}

TEST(ChannelEndToEnd, MissingLibraryIsLoggedAndTheDaemonServesOn) {
  // A copy of the daemon in a directory of its own does not find the library.
  DaemonOptions o = logged("31");
  std::string alone = tavro::testing::make_temp_dir();
  fs::copy_file(tavro::testing::binary_dir() + "/tavro", alone + "/tavro");
  o.program = alone + "/tavro";
  DaemonProcess daemon(o);
  std::string log = text_with(o.working_dir + "/events.log", "Driver file not found!");
  EXPECT_EQ(count(log, "LXS ERROR: Driver file not found! (QFCMsgLib.dll) - error(2)\n"), 1);
  EXPECT_EQ(count(log, "Registration completed"), 0);
  EXPECT_NE(tavro::testing::request(daemon.port(), "REV\n"), "");
  EXPECT_EQ(daemon.stop(15), 0);
  fs::remove_all(alone);
}

TEST(ChannelEndToEnd, DriverThatRefusesRegistrationsLeavesTheChannelClosed) {
  DaemonOptions o = logged("18");  // ERROR and DEBUG: the handle lines keep repeats apart
  std::string model = o.working_dir + "/model.json";
  tavro::testing::write_file(model, R"({"adapters": [{"name": "/pvd/pci1/dev1/fcp0",
      "node_wwn": "1000000000000001", "ports": [{"wwn": "1000000000000002"}]}],
      "faults": {"refuse_register": 100}})");
  o.env = {{"TAVRO_SIM_MODEL", model}};
  DaemonProcess daemon(o);
  std::string log_path = o.working_dir + "/events.log";
  std::string log = text_with(log_path, "Registration failed - error(1)\n");
  // The six attempts follow each other at once; REV is served after them.
  EXPECT_NE(tavro::testing::request(daemon.port(), "REV\n"), "");
  log = tavro::testing::read_file(log_path);
  EXPECT_EQ(count(log, "LXS ERROR: Registration failed - error(1)\n"), 6);
  EXPECT_EQ(daemon.stop(15), 0);
}

}  // namespace
