// The Linux libraries on copies of the sysfs fixture trees, through the real
// daemon: HBAAPI through the system's common library to libtavrohba.so, in a
// private mount namespace with its own /etc/hba.conf; an independent SNIA
// client in C the same way; the direct objects from libqv781s.so.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/linux_host.h"

namespace tavro::testing {
namespace {

namespace fs = std::filesystem;

// Runs the rows of a data file (tree, request, reply) for one tree.
void check_rows(const std::string& file, const std::string& tree, int port,
                const std::string& prefix) {
  for (const auto& r : read_rows("e2e/linux_hbaapi/" + file, {{"H", "00000001"}})) {
    if (r[0] != tree) continue;
    EXPECT_EQ(request(port, prefix + r[1] + "\n"), r[2]) << tree << " " << r[1];
  }
}

TEST(LinuxHbaApi, ASessionThroughTheCommonLibraryEqualsTheFixture) {
  if (std::string why = no_namespace(); !why.empty()) GTEST_SKIP() << why;
  for (const char* tree : {"dual_port", "sparse", "fcoe", "multipath"}) {
    std::string root = sysfs_fixture(tree);
    DaemonProcess daemon(linux_daemon(root));
    check_rows("session.txt", tree, daemon.port(), "HBAAPI ");
    if (std::string(tree) == "sparse") {  // an adapter removed while open
      fs::remove(root + "/class/fc_host/host5");
      // The library's view of the hosts is up to a second old.
      const std::string gone = "Error: HBAAPI Error:Code 12 (12)";
      std::string got;
      for (int i = 0; i < 100 && (got = request(daemon.port(), "HBAAPI 8.0.00000002.0\n")) != gone;
           ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      EXPECT_EQ(got, gone);
    }
    if (std::string(tree) == "dual_port") {
      EXPECT_EQ(read_file(root + "/class/fc_host/host3/statistics/reset_statistics"), "1");
      // FCGET through the Linux driver message library agrees.
      const std::string t = "FCGET .1.3.6.1.4.1.48217.3.", a = "pci0000:3b/dev00";
      const std::pair<std::string, std::string> kSame[] = {
          {"3.0", t + "3.1.0"},
          {"4.0.0", t + "3.2.1.2.0"},
          {"8.2.00000002.0", t + "3.4.1.2." + a + ".0"},
          {"8.1.00000002.0", t + "4.2.1.2.0"},
      };
      ASSERT_EQ(request(daemon.port(), "HBAAPI 5.0." + a + "\n"), "00000002");
      for (const auto& [api, fcget] : kSame) {
        EXPECT_EQ(request(daemon.port(), "HBAAPI " + api + "\n"),
                  request(daemon.port(), fcget + "\n"))
            << api;
      }
    }
  }
}

TEST(LinuxHbaApi, AnIndependentSniaClientListsTheAdapters) {
  if (std::string why = no_namespace(); !why.empty()) GTEST_SKIP() << why;
  std::string command = "TAVRO_SYSFS_ROOT='" + sysfs_fixture("dual_port") + "' TAVRO_VENDOR_LIB='" +
                        binary_dir() + "/linux/libtavrohba.so' unshare";
  for (const std::string& word : in_namespace(binary_dir() + "/snia_client"))
    command += " '" + word + "'";
  ClientResult out = run_command(command);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.output, test_data("e2e/linux_hbaapi/snia_client.txt"));
}

TEST(LinuxDevices, DirectObjectsAnswerFromTheFixture) {
  for (const char* tree : {"dual_port", "sparse", "eight"}) {
    DaemonProcess daemon({.args = {"-fcget", "enabled"},
                          .env = {{"TAVRO_SYSFS_ROOT", sysfs_fixture(tree)},
                                  {"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}}});
    check_rows("direct.txt", tree, daemon.port(), "FCGET .1.3.6.1.4.1.48217.");
  }
}

}  // namespace
}  // namespace tavro::testing
