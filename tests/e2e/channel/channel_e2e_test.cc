// A daemon that cannot find its driver's message library says so in the
// event log and serves on. Its opening of the channel at start-up and the
// closing at stop are checked in tests/e2e/eventlog.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/daemon_process.h"

namespace {

namespace fs = std::filesystem;
using namespace tavro::testing;

TEST(ChannelEndToEnd, MissingLibraryIsLoggedAndTheDaemonServesOn) {
  // A copy of the daemon in a directory of its own does not find the library.
  DaemonOptions o{.args = {"-fclog", "events.log", "-fclf", "31", "-fcget", "enabled"},
                  .working_dir = make_temp_dir()};
  write_file(o.working_dir + "/events.log", "");
  std::string alone = make_temp_dir();
  fs::copy_file(binary_dir() + "/tavro", alone + "/tavro");
  o.program = alone + "/tavro";
  DaemonProcess daemon(o);
  const std::string missing = "LXS ERROR: Driver file not found! (libQFCMsgLib.so) - error(2)\n";
  ASSERT_TRUE(wait_for_text(o.working_dir + "/events.log", missing));
  EXPECT_NE(request(daemon.port(), "REV\n"), "");
  std::string log = read_file(o.working_dir + "/events.log");
  EXPECT_EQ(log.find(missing), log.rfind(missing));
  EXPECT_EQ(log.find("Registration completed"), std::string::npos);
  // Each object request tries the library again; standard error hears of it once.
  EXPECT_EQ(request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.3.3.1.0\n"),
            "Error: Driver not opened");
  EXPECT_EQ(daemon.stop(15), 0);
  std::string said =
      "tavro: driver library libQFCMsgLib.so not found (searched TAVRO_LIBRARY_PATH, " + alone +
      ", the system's library path)\n";
  EXPECT_EQ(daemon.output().find(said), daemon.output().rfind(said)) << daemon.output();
  EXPECT_NE(daemon.output().find(said), std::string::npos) << daemon.output();
}

}  // namespace
