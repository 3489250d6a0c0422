// The real daemon's FCGET on the Linux driver library over the sysfs
// fixture trees, and a host folder that goes away and comes back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A copy of the dual-port fixture, and a daemon's options over it.
std::string dual_port_copy() {
  std::string root = make_temp_dir() + "/sys";
  std::filesystem::copy(
      std::string(TAVRO_FIXTURES) + "/dual_port", root,
      std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
  return root;
}
DaemonOptions over(const std::string& root) {
  return {.args = {"-fcget", "enabled"},
          .env = {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}, {"TAVRO_SYSFS_ROOT", root}}};
}

// On a copy of the fixture, whose host3 folder goes away and comes back.
TEST(LinuxBackend, FcgetAnswersTheFixtureValues) {
  std::string root = dual_port_copy();
  DaemonProcess daemon(over(root));
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

// A statistics file whose read blocks in its driver (here: a FIFO) holds only
// itself: other counters answer, it answers as not available, and once the
// FIFO is fed a read gives its value.
TEST(LinuxBackend, AStatisticsFileThatBlocksHoldsOnlyItself) {
  std::string root = dual_port_copy();
  const std::string fifo = root + "/class/fc_host/host3/statistics/tx_frames";
  std::filesystem::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  DaemonProcess daemon(over(root));
  const std::string tx = "FCGET .1.3.6.1.4.1.48217.3.3.7.1.15.21000024FF3A5B10\n";
  EXPECT_EQ(request(daemon.port(), tx), "Error:  FCPH_GET_TX_SEQS: Not available");
  EXPECT_EQ(request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.3.3.7.1.18.21000024FF3A5B11\n"),
            "37908");
  int writer = -1;
  for (int i = 0; i < 100 && (writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_GE(writer, 0) << "no read waits on the FIFO";
  EXPECT_EQ(write(writer, "0x1203\n", 7), 7);
  close(writer);
  std::string got;
  for (int i = 0; i < 100 && (got = request(daemon.port(), tx)) != "4611"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(got, "4611");
}

}  // namespace
}  // namespace tavro::testing
