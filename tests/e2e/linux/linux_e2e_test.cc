// The real daemon's FCGET on the Linux driver library over the sysfs
// fixture trees, and a host folder that goes away and comes back.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

DaemonOptions on_root(const std::string& root) {
  return {.args = {"-fcget", "enabled"},
          .env = {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}, {"TAVRO_SYSFS_ROOT", root}}};
}

std::string fcget(int port, const std::string& object) {
  return request(port, "FCGET .1.3.6.1.4.1.48217.3." + object + "\n");
}

const std::string A = "pci0000:3b/dev00";
const std::string P3 = "21000024FF3A5B10", P4 = "21000024FF3A5B11", N = "20000024FF3A5B10";
const std::string E5 = N + ".200000D0B2C3D4E5", F6 = N + ".200000D0B2C3D4F6";

struct Row {
  std::string object;
  std::string want;  // the fixture's value; "Error: " = an error reply
};

// Every object family on the dual-port card (values from tests/fixtures/sysfs/dual_port).
const Row kRows[] = {
    {"3.1.0", "1"},
    {"3.2.1.2.0", A},
    {"3.3.1.1." + A, "2"},
    {"3.3.1.2." + A, "PCI"},
    {"3.3.1.3." + A, "Bus 0000:3b, Slot 00"},
    {"3.3.1.4." + A, "TV-2602"},
    {"3.4.1.2." + A + ".0", P3},
    {"3.5.1.3." + P3, "16"},
    {"3.5.1.5." + P4, "3"},  // Linkdown
    {"3.5.1.9." + P4, "TVX2051K0124"},
    {"3.5.1.10." + P3, "Dual port 16Gb FC adapter"},
    {"3.5.1.11." + P3, "8.08.231 (d0d5)"},
    {"3.6.1.3." + P3 + ".0", "1"},
    {"3.6.1.5." + P3 + ".0", "6666"},  // link_failure_count 0x1a0a
    {"3.7.1.1." + P3, "1"},            // N_Port
    {"3.7.1.4." + P3, "21000024FF3A5B1A"},
    {"3.7.1.7." + P3, "010A00"},
    {"3.7.1.13." + P3, "08"},
    {"3.7.1.15." + P3, "4610"},   // tx_frames 0x1202
    {"3.7.1.18." + P4, "37908"},  // rx_words 0x2505 x 4
    {"4.1.0", "1"},
    {"4.2.1.2.0", N},
    {"4.3.1.2." + N, "2"},
    {"4.3.1.3." + N, "3"},
    {"4.3.1.9." + N, "13316"},  // tx_frames of both ports
    {"4.4.1.1." + N, "TV-2602 FW:v8.08.231 DVR:v10.02.07.900-k"},
    {"4.4.1.2." + N, "Online"},
    {"4.7.1.2." + N + ".1", "200000D0B2C3D4F6"},
    {"4.8.1.1." + F6, "1"},
    {"4.8.1.2." + F6, "00000003"},  // roles: FCP Target, FCP Initiator
    {"4.8.1.3." + F6, "08"},
    {"4.9.1.2." + F6, "1"},
    {"4.9.1.4." + E5, "2"},
    {"4.11.1.2." + F6 + ".0", "220000D0B2C3D4F6"},
    {"4.13.1.2." + F6 + ".0", "5"},
    {"4.13.1.3." + F6 + ".0", "0005000000000000"},
    {"4.13.1.5." + E5 + ".1", "TAVRODSKVDISK-B         1.08"},
    {"4.9.1.6." + N + ".20FFFC0A0B0C0D0E", "Error: "},  // the name server has no LUN
    {"4.4.1.3." + N, "Error: "},                        // class preferences: not told
    {"3.5.1.3." + P4, "Error: "},                       // speed "unknown"
    {"3.5.1.3.1111111111111111", "Error: "},            // no such port
    {"3.5.1.7." + P3, "Error: "},                       // no manufacturer told
    {"3.7.1.14." + A, "Error: "},                       // duplex: not told
};

template <std::size_t N>
void expect_rows(int port, const Row (&rows)[N], const char* step) {
  for (const Row& r : rows) {
    std::string got = fcget(port, r.object);
    bool ok = r.want == "Error: " ? got.starts_with("Error: ") : got == r.want;
    EXPECT_EQ(ok ? r.want : got, r.want) << step << " " << r.object;
  }
}

// With host3's folder gone its port's answers fail and the other port's do not.
const Row kHost3Gone[] = {
    {"3.5.1.3." + P3, "Error: "},
    {"3.7.1.15." + P3, "Error: "},
    {"3.3.1.1." + A, "1"},
    {"3.5.1.9." + P4, "TVX2051K0124"},
};

// The library answers from a view of the hosts it looks at again once a
// second: waits until the port's answer is error or not, as the step wants.
void wait_for_port(int port, bool gone) {
  for (int i = 0; i < 100 && fcget(port, "3.5.1.3." + P3).starts_with("Error: ") != gone; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// On a copy of the fixture, whose host3 folder goes away and comes back.
TEST(LinuxBackend, FcgetAnswersTheFixtureValues) {
  namespace fs = std::filesystem;
  std::string root = make_temp_dir() + "/sys";
  fs::copy(std::string(TAVRO_FIXTURES) + "/dual_port", root,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  DaemonProcess daemon(on_root(root));
  expect_rows(daemon.port(), kRows, "present");
  std::string host3 = root + "/devices/pci0000:3a/0000:3a:00.0/0000:3b:00.0/host3";
  ASSERT_EQ(std::rename(host3.c_str(), (host3 + ".gone").c_str()), 0);
  wait_for_port(daemon.port(), true);
  expect_rows(daemon.port(), kHost3Gone, "gone");
  ASSERT_EQ(std::rename((host3 + ".gone").c_str(), host3.c_str()), 0);
  wait_for_port(daemon.port(), false);
  expect_rows(daemon.port(), kRows, "back");
  EXPECT_EQ(daemon.stop(), 0);
}

}  // namespace
}  // namespace tavro::testing
