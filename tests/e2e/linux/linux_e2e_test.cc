// The real daemon's FCGET on the Linux driver library over the sysfs
// fixture trees, and a host folder that goes away and comes back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string N = "20000024FF3A5B10";
const Vars kVars = {{"A", "pci0000:3b/dev00"},       {"P3", "21000024FF3A5B10"},
                    {"P4", "21000024FF3A5B11"},      {"N", N},
                    {"E5", N + ".200000D0B2C3D4E5"}, {"F6", N + ".200000D0B2C3D4F6"}};

// The rows of fcget_rows.txt for when: with host3's folder gone its port's
// answers fail and the other port's do not.
void expect_rows(int port, const std::string& when, const char* step) {
  for (const auto& row : read_rows("e2e/linux/fcget_rows.txt", kVars)) {
    if (row.at(0) != when) continue;
    std::string got = request(port, "FCGET .1.3.6.1.4.1.48217.3." + row.at(1) + "\n");
    bool ok = row.at(2) == "Error: " ? got.starts_with("Error: ") : got == row.at(2);
    EXPECT_EQ(ok ? row.at(2) : got, row.at(2)) << step << " " << row.at(1);
  }
}

// The library answers from a view of the hosts it looks at again once a
// second: waits until host3's port answers an error or not, as the step wants.
void wait_for_port(int port, bool gone) {
  for (int i = 0; i < 100; ++i) {
    std::string got = request(port, "FCGET .1.3.6.1.4.1.48217.3.3.5.1.3.21000024FF3A5B10\n");
    if (got.starts_with("Error: ") == gone) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// On a copy of the fixture, whose host3 folder goes away and comes back.
TEST(LinuxBackend, FcgetAnswersTheFixtureValues) {
  namespace fs = std::filesystem;
  std::string root = make_temp_dir() + "/sys";
  fs::copy(std::string(TAVRO_FIXTURES) + "/dual_port", root,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  DaemonProcess daemon(
      {.args = {"-fcget", "enabled"},
       .env = {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}, {"TAVRO_SYSFS_ROOT", root}}});
  expect_rows(daemon.port(), "present", "present");
  std::string host3 = root + "/devices/pci0000:3a/0000:3a:00.0/0000:3b:00.0/host3";
  ASSERT_EQ(std::rename(host3.c_str(), (host3 + ".gone").c_str()), 0);
  wait_for_port(daemon.port(), true);
  expect_rows(daemon.port(), "gone", "gone");
  ASSERT_EQ(std::rename((host3 + ".gone").c_str(), host3.c_str()), 0);
  wait_for_port(daemon.port(), false);
  expect_rows(daemon.port(), "present", "back");
  EXPECT_EQ(daemon.stop(), 0);
}

}  // namespace
}  // namespace tavro::testing
