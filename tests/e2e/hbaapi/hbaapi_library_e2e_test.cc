// Which library the daemon binds: none, or the system's SNIA common library
// when no simulated libhbaapi.so lies next to the program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/e2e/hbaapi/hbaapi_e2e.h"

namespace tavro::testing {
namespace {

// A copy of tavro in a folder of its own, where no libhbaapi.so is found.
std::string lone_tavro() {
  std::string dir = make_temp_dir();
  std::string copy = dir + "/tavro";
  std::filesystem::copy_file(binary_dir() + "/tavro", copy);
  ::chmod(copy.c_str(), 0755);
  return copy;
}

TEST(HbaApiLibrary, WithoutAnyLibraryEveryFunctionIsNotSupported) {
  DaemonOptions o = hbaapi_daemon({{"TAVRO_HBAAPI_LIBRARY", ""}});
  o.program = lone_tavro();
  DaemonProcess daemon(o);
  EXPECT_EQ(hbaapi(daemon.port(), "3.0"),
            "Error: HBA_GetNumberOfAdapters(3) not supported by API Library.");
  EXPECT_EQ(hbaapi(daemon.port(), "5.0.x"),
            "Error: HBA_OpenAdapter(5) not supported by API Library.");
  EXPECT_TRUE(wait_for_text(daemon.dir() + "/events.log", "API file not found! (hbaapi)"));
  EXPECT_NE(daemon.output().find("HBA API Wrapper Library : Error on loading."), std::string::npos);
}

bool system_library_installed() {
  for (const char* dir : {"/usr/lib", "/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu"}) {
    if (std::filesystem::exists(std::string(dir) + "/libHBAAPI.so.2")) return true;
  }
  return false;
}

TEST(HbaApiLibrary, TheSystemsCommonLibraryAnswers) {
  if (!system_library_installed()) GTEST_SKIP() << "libHBAAPI.so.2 (libhbaapi2) is not installed";
  DaemonOptions o = hbaapi_daemon();
  o.program = lone_tavro();
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(hbaapi(port, "0.0"), "2");
  std::string count = hbaapi(port, "3.0");
  EXPECT_EQ(count, std::filesystem::exists("/sys/class/fc_host") ? count : "0");
  // Without vendor libraries configured the common library may answer its
  // general status; either way the call returns and the daemon serves on.
  for (const char* call : {"2.0", "1.0", "2.0", "1.0"}) {  // HBA_FreeLibrary, HBA_LoadLibrary
    std::string reply = hbaapi(port, call);
    EXPECT_TRUE(reply == std::string(1, '\0') || reply.rfind("Error: HBAAPI Error:", 0) == 0)
        << call << " " << reply;
  }
  EXPECT_EQ(hbaapi(port, "3.0"), count);
  EXPECT_EQ(hbaapi(port, "5.0.nosuch"), "00000000");
  EXPECT_TRUE(daemon.running());
  EXPECT_TRUE(wait_for_text(daemon.dir() + "/events.log", "HBA API Library loaded"));
}

bool can_make_mount_namespace() {
  return ::geteuid() == 0 && std::filesystem::exists("/usr/bin/unshare") &&
         std::system("unshare -m true 2>/dev/null") == 0;
}

// tavro -> the system's common library -> the simulated library as a vendor
// library named by one line of /etc/hba.conf. The file is bind-mounted in a
// private mount namespace of the daemon; the host's own file is not touched.
TEST(HbaApiLibrary, TheCommonLibraryReachesTheSimulatedVendorLibrary) {
  if (!system_library_installed()) GTEST_SKIP() << "libHBAAPI.so.2 (libhbaapi2) is not installed";
  if (!can_make_mount_namespace()) GTEST_SKIP() << "no private mount namespace (needs root)";
  const std::string conf = make_temp_dir() + "/hba.conf";
  write_file(conf, "org.tavro.sim " + binary_dir() + "/libhbaapi.so\n");
  DaemonOptions o = hbaapi_daemon();
  o.add_port = false;
  o.port = free_port();
  std::string command = "mount --bind '" + conf + "' /etc/hba.conf && exec '" + lone_tavro() +
                        "' -port " + std::to_string(o.port);
  for (const std::string& arg : o.args) command += " " + arg;
  o.program = "/usr/bin/unshare";
  o.args = {"-m", "--propagation", "private", "sh", "-c", command};
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(hbaapi(port, "3.0"), "2");
  EXPECT_EQ(hbaapi(port, "4.0.0"), kHbaAdapter0);
  std::string h = hbaapi(port, "5.0." + kHbaAdapter0);
  ASSERT_EQ(h.size(), 8u) << h;
  EXPECT_EQ(hbaapi(port, "7.5." + h), "200000E08B010203");
  EXPECT_EQ(hbaapi(port, "8.2." + h + ".0"), "210000E08B010203");
  EXPECT_EQ(hbaapi(port, "10.2." + h + ".0.0"), "2100002037A1B2C3");
  EXPECT_EQ(hbaapi(port, "6.0." + h), std::string(1, '\0'));
  EXPECT_NE(read_file("/etc/hba.conf").find("# This file contains names"), std::string::npos);
}

}  // namespace
}  // namespace tavro::testing
