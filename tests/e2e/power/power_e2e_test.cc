// Sleep and wake-up through a private D-Bus: a stand-in logind emits
// PrepareForSleep, hands out the daemon's inhibitor locks and stops the
// daemon when it lets go of its lock, as the machine would go to sleep.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

DaemonOptions power_daemon(const std::string& bus) {
  return {.args = {"-fcget", "enabled", "-fclog", "events.log", "-fclo", "2", "-fclf", "0x1F"},
          .env = {{"TAVRO_POWER_BUS", bus}}};
}

// A helper program of the test's own, its output in daemon.out.
DaemonOptions helper(const std::string& program, std::vector<std::string> args) {
  return {.args = std::move(args), .add_port = false, .wait_ready = false, .program = program};
}

const std::string kAdapterCount = "FCGET .1.3.6.1.4.1.48217.3.3.1.0\n";

TEST(PowerEvents, SleepClosesTheChannelBeforeTheLockIsReleased) {
  std::string dir = make_temp_dir(), bus = "unix:path=" + dir + "/bus";
  write_file(dir + "/bus.conf",
             "<busconfig><type>tavro-test</type><listen>" + bus +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                 "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                 "</policy></busconfig>\n");
  DaemonProcess dbus(helper("/usr/bin/dbus-daemon",
                            {"--nofork", "--print-address", "--config-file=" + dir + "/bus.conf"}));
  ASSERT_TRUE(wait_for_text(dbus.dir() + "/daemon.out", bus)) << "no bus";
  DaemonProcess logind(helper(binary_dir() + "/fake_logind", {bus}));
  auto said = [&](const std::string& text) {
    return wait_for_text(logind.dir() + "/daemon.out", text, std::chrono::seconds(10));
  };
  ASSERT_TRUE(said("ready\n"));
  DaemonProcess d(power_daemon(bus));
  EXPECT_TRUE(said("ready\nlock sleep tavro delay\n"));
  EXPECT_EQ(request(d.port(), kAdapterCount), "2");

  ::kill(logind.pid(), SIGUSR1);  // going to sleep
  ASSERT_TRUE(said("delay\nreleased\n"));
  std::string log = read_file(d.dir() + "/events.log");
  EXPECT_EQ(occurrences(log, "LXS NOTCE: Driver state changed to STANDBY.\n"), 1);
  EXPECT_LT(log.find("Driver state changed to STANDBY."), log.rfind("LXS DEBUG: qdn_close\n"));

  // Awake again: ready, and the next request opens the channel.
  ::kill(logind.pid(), SIGUSR2);
  EXPECT_TRUE(said("released\nlock sleep tavro delay\n"));
  EXPECT_EQ(logind.output(), "ready\nlock sleep tavro delay\nreleased\nlock sleep tavro delay\n");
  log = read_file(d.dir() + "/events.log");
  EXPECT_EQ(occurrences(log, "LXS NOTCE: Driver state changed to READY.\n"), 1);
  EXPECT_EQ(occurrences(log, "LXS NOTCE: Registration completed\n"), 1);
  EXPECT_EQ(request(d.port(), kAdapterCount), "2");
  EXPECT_EQ(occurrences(read_file(d.dir() + "/events.log"), "LXS NOTCE: Registration completed\n"),
            2);
  EXPECT_EQ(d.stop(), 0);
}

}  // namespace
}  // namespace tavro::testing
