// HBAAPI and FCGET of HBA API objects through the real daemon: with the
// simulated library beside it, with none, and with the system's SNIA library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

namespace fs = std::filesystem;

// The first adapter of the simulator's default model.
const std::string kAdapter0 = "/pvd/pci2/dev5/fcp0";

// A daemon with HBAAPI and FCGET enabled and an event log in its directory.
DaemonOptions hbaapi_daemon(std::vector<std::pair<std::string, std::string>> env = {}) {
  return {.args = {"-api", "enabled", "-fcget", "enabled", "-fclog", "events.log", "-fclo", "2",
                   "-fclf", "0x1F"},
          .env = std::move(env)};
}

std::string hbaapi(int port, const std::string& text) {
  return request(port, "HBAAPI " + text + "\n");
}

// Requests that fail before the call; then a client's whole session: count,
// name, open, attributes, statistics, discovered ports, close; and FCGET of
// the same branch.
TEST(HbaApiE2e, RequestsThatFailBeforeTheCallAndASessionAsAClientRunsIt) {
  DaemonProcess daemon(hbaapi_daemon());
  const int port = daemon.port();
  const std::string h = "00000001";  // the first handle opened
  for (const auto& row : read_rows("e2e/hbaapi/session.txt", {{"H", h}, {"A0", kAdapter0}}))
    EXPECT_EQ(hbaapi(port, row[0]), row[1]) << row[0];
  std::string tx = hbaapi(port, "9.2." + h + ".0");  // TxFrames, restarted by 14.0 above
  EXPECT_EQ(tx.find_first_not_of("0123456789"), std::string::npos) << tx;
  EXPECT_LT(std::strtoull(tx.c_str(), nullptr, 10), 1000u) << tx;
  EXPECT_EQ(hbaapi(port, "15.1." + h).substr(0, 1).find_first_of("123456789"), 0u);
  EXPECT_EQ(hbaapi(port, "6.0." + h), std::string(1, '\0'));
  EXPECT_EQ(hbaapi(port, "7.0." + h), "Error: HBAAPI Error:invalid handle (3)");
  EXPECT_EQ(request(port, "STATS HBAAPI \n"), "HBAAPI ;37");
  EXPECT_EQ(request(port, "FCGET .1.3.6.1.4.1.48217.4.3.0\n"), "2");
  EXPECT_EQ(request(port, "FCGET .1.3.6.1.4.1.48217.4.4.0.1\n"), "/pvd/pci3/dev1/fcp1");
  EXPECT_EQ(request(port, "FCGET .1.3.6.1.4.1.48217.4.24.0\n"), "Error: Unknown ID(24).");
}

// A function missing from the library, statuses it returns instead of an
// answer, and a crash inside it that is logged while the daemon serves on
// (faulty_library.json).
TEST(HbaApiE2e, MissingFunctionsStatusesAndCrashesOfTheLibrary) {
  DaemonOptions o = hbaapi_daemon(
      {{"TAVRO_SIM_MODEL", TAVRO_SOURCE_DIR "/tests/e2e/hbaapi/faulty_library.json"}});
  o.args.insert(o.args.end(),
                {"-d", "0x400000", "-log", "requests.log", "-lo", "2", "-lf", "0x40000"});
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(hbaapi(port, "3.0"), "1");
  // The request noted in the request log, the reply traced.
  EXPECT_TRUE(wait_for_text(daemon.dir() + "/requests.log", " - 3.0\n"));
  EXPECT_NE(daemon.output().find("API_RSP() 1\n"), std::string::npos) << daemon.output();
  ASSERT_EQ(hbaapi(port, "5.0." + kAdapter0), "00000001");
  EXPECT_EQ(hbaapi(port, "9.0.1.0"),
            "Error: HBA_GetPortStatistics(9) not supported by API Library.");
  EXPECT_NE(daemon.output().find("Function 'HBA_GetPortStatistics' (9) Not found in hbaapi.DLL"),
            std::string::npos);
  for (const auto& row : read_rows("e2e/hbaapi/statuses.txt"))
    EXPECT_EQ(hbaapi(port, row[0]), "Error: HBAAPI Error:" + row[1]) << row[0];

  EXPECT_EQ(hbaapi(port, "8.2.1.0"),
            "Error: HBAAPI Error:Program Exception in HBA_GetAdapterPortAttributes");
  EXPECT_EQ(hbaapi(port, "8.2.1.0"), "210000E08B010203");
  EXPECT_TRUE(wait_for_text(daemon.dir() + "/events.log",
                            "Program Exception: HBA_GetAdapterPortAttributes"));
}

// A copy of tavro in a folder of its own, without libhbaapi.so or
// libQFCMsgLib.so beside it.
DaemonOptions lone_daemon(std::vector<std::pair<std::string, std::string>> env = {}) {
  DaemonOptions o = hbaapi_daemon(std::move(env));
  o.program = make_temp_dir() + "/tavro";
  fs::copy_file(binary_dir() + "/tavro", o.program);
  return o;
}

// Every HBA API function is then not supported. Nor is the driver's message
// library found, nor a system bus for power events (none in a test): the event
// log and standard error say so once, and the daemon serves on.
TEST(HbaApiLibrary, WithoutAnyLibraryOrBusTheDaemonSaysSoAndServesOn) {
  DaemonOptions o = lone_daemon({{"TAVRO_HBAAPI_LIBRARY", ""}});
  DaemonProcess daemon(o);
  const std::string log = daemon.dir() + "/events.log";
  EXPECT_EQ(hbaapi(daemon.port(), "3.0"),
            "Error: HBA_GetNumberOfAdapters(3) not supported by API Library.");
  EXPECT_EQ(hbaapi(daemon.port(), "5.0.x"),
            "Error: HBA_OpenAdapter(5) not supported by API Library.");
  EXPECT_TRUE(wait_for_text(log, "API file not found! (hbaapi)"));
  EXPECT_NE(daemon.output().find("HBA API Wrapper Library : Error on loading."), std::string::npos);
  const std::string missing = "LXS ERROR: Driver file not found! (libQFCMsgLib.so) - error(2)\n";
  EXPECT_TRUE(wait_for_text(log, missing));
  EXPECT_EQ(occurrences(read_file(log), missing), 1);
  EXPECT_EQ(read_file(log).find("Registration completed"), std::string::npos);
  const std::string no_bus = "LXS WARNG: No system bus: power events will not be seen - error(2)\n";
  EXPECT_TRUE(wait_for_text(log, no_bus));
  EXPECT_EQ(request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.3.3.1.0\n"),
            "Error: Driver not opened");
  EXPECT_EQ(daemon.stop(15), 0);
  EXPECT_EQ(occurrences(read_file(log), no_bus), 1);
  EXPECT_EQ(occurrences(daemon.output(),
                        "tavro: driver library libQFCMsgLib.so not found (searched "
                        "TAVRO_LIBRARY_PATH, " +
                            fs::path(o.program).parent_path().string() +
                            ", the system's library path)\n"),
            1)
      << daemon.output();
}

// The library of the folder TAVRO_LIBRARY_PATH chooses, named in the event
// log by its file; one there that cannot be loaded is an error, and the
// simulated libhbaapi.so beside tavro never stands in for it.
TEST(HbaApiLibrary, OnlyTheChosenFoldersLibraryIsLoadedAndTheEventNamesItsFile) {
  std::string dangling = make_temp_dir();
  fs::create_symlink(dangling + "/libHBAAPI.so.2", dangling + "/libhbaapi.so");
  std::string linux_link = binary_dir() + "/linux/libhbaapi.so",
              sim = binary_dir() + "/libhbaapi.so";
  std::error_code absent;
  std::string system = fs::canonical(linux_link, absent).string();  // the build's link
  const std::pair<std::string, std::string> kFolders[] = {
      // TAVRO_LIBRARY_PATH, event
      {binary_dir(), "HBA API Library loaded: " + fs::canonical(sim).string() + "\n"},
      {binary_dir() + "/linux", absent ? "API file cannot be loaded! (" + linux_link + ")"
                                       : "HBA API Library loaded: " + system + "\n"},
      {dangling, "API file cannot be loaded! (" + dangling + "/libhbaapi.so) - error(2)\n"},
  };
  for (const auto& [folder, event] : kFolders) {
    DaemonProcess daemon(hbaapi_daemon({{"TAVRO_LIBRARY_PATH", folder}}));
    std::string count = hbaapi(daemon.port(), "3.0");
    EXPECT_TRUE(wait_for_text(daemon.dir() + "/events.log", event)) << folder;
    if (event.find("cannot") != std::string::npos) {
      EXPECT_EQ(count, "Error: HBA_GetNumberOfAdapters(3) not supported by API Library.");
    }
  }
}

// tavro -> the system's common library -> no vendor library, then (freed and
// loaded again) the simulated one named by /etc/hba.conf, bind-mounted in a
// private mount namespace of the daemon; the host's own file is not touched.
TEST(HbaApiLibrary, TheCommonLibraryReachesTheVendorLibrariesOfItsConfiguration) {
  if (std::system("/sbin/ldconfig -p | grep -q 'libHBAAPI\\.so\\.2 '") != 0)
    GTEST_SKIP() << "libHBAAPI.so.2 (libhbaapi2) is not installed";
  if (::geteuid() != 0 || std::system("unshare -m true 2>/dev/null") != 0) {
    GTEST_SKIP() << "no private mount namespace (needs root)";
  }
  const std::string conf = make_temp_dir() + "/hba.conf";
  write_file(conf, "# no vendor library\n");
  DaemonOptions o = lone_daemon();
  o.add_port = false;
  o.port = free_port();
  std::string command = "mount --bind '" + conf + "' /etc/hba.conf && exec '" + o.program +
                        "' -port " + std::to_string(o.port);
  for (const std::string& arg : o.args) command += " " + arg;
  o.program = "/usr/bin/unshare";
  o.args = {"-m", "--propagation", "private", "sh", "-c", command};
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(hbaapi(port, "0.0"), "2");
  EXPECT_EQ(hbaapi(port, "3.0"), "0");
  EXPECT_EQ(hbaapi(port, "5.0." + kAdapter0), "00000000");
  write_file(conf, "org.tavro.sim " + binary_dir() + "/libhbaapi.so\n");
  hbaapi(port, "2.0");  // HBA_FreeLibrary, with nothing loaded a general status
  EXPECT_EQ(hbaapi(port, "1.0"), std::string(1, '\0'));  // HBA_LoadLibrary
  EXPECT_EQ(hbaapi(port, "3.0"), "2");
  EXPECT_EQ(hbaapi(port, "4.0.0"), kAdapter0);
  std::string h = hbaapi(port, "5.0." + kAdapter0);
  ASSERT_EQ(h.size(), 8u) << h;
  EXPECT_EQ(hbaapi(port, "7.5." + h), "200000E08B010203");
  EXPECT_EQ(hbaapi(port, "8.2." + h + ".0"), "210000E08B010203");
  EXPECT_EQ(hbaapi(port, "10.2." + h + ".0.0"), "2100002037A1B2C3");
  EXPECT_EQ(hbaapi(port, "6.0." + h), std::string(1, '\0'));
  EXPECT_TRUE(wait_for_text(daemon.dir() + "/events.log", "HBA API Library loaded"));
  EXPECT_NE(read_file("/etc/hba.conf").find("# This file contains names"), std::string::npos);
}

}  // namespace
}  // namespace tavro::testing
