// FCGET and FCSET of the direct objects (".1.3.6.1.4.1.48217.2.") and the
// branch-1 adapter description, through the real daemon, the simulated
// devices (libqv781s.so) and a registry folder of the daemon's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string kDirect = ".1.3.6.1.4.1.48217.2.";
const std::string kDescriptionOid = ".1.3.6.1.4.1.48217.1.1.0";
const std::string kServices = "/registry/System/CurrentControlSet/Services/qv781s/";

// model.json with these devices (devices.json when none are given).
std::string model(const std::string& devices = test_data("e2e/direct/devices.json")) {
  return expand(test_data("e2e/direct/model.json"), {{"DEVICES", devices}});
}

DaemonOptions options(const std::string& model_json, std::vector<std::string> extra = {}) {
  std::string dir = make_temp_dir();
  write_file(dir + "/model.json", model_json);
  extra.insert(extra.begin(), {"-fcget", "enabled", "-fcset", "enabled"});
  return {.args = extra,
          .env = {{"TAVRO_SIM_MODEL", dir + "/model.json"},
                  {"TAVRO_SIM_DEVICE_LOG", dir + "/devices.log"}},
          .working_dir = dir};
}

std::string get(int port, const std::string& object) {
  return request(port, "FCGET " + kDirect + object + "\n");
}

std::string set(int port, const std::string& object, const std::string& value) {
  return request(port, "FCSET " + kDirect + object + " " + value + "\n");
}

// One daemon on the full model, traced to its output: every handler family,
// then node entries and settings written and read back (direct.txt), then the stop.
TEST(Direct, HandlersNodeEntriesSettingsTracesAndStop) {
  DaemonOptions o = options(model(), {"-d", "0x180000"});
  o.env.emplace_back("TAVRO_DEBUG_OUTPUT", "stderr");
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(mismatches(port, read_exchanges("e2e/direct/direct.txt", {{"D", kDirect}})), "");
  EXPECT_NE(daemon.output().find("Dump regs failed: 5"), std::string::npos) << daemon.output();
  // Only the first word of a throughput record is dumped.
  EXPECT_NE(daemon.output().find("01 00 00 00" + std::string(37, ' ') + "....            \n"),
            std::string::npos)
      << daemon.output();
  // Device ten keeps its settings under 0A and, in a registry of its own (key
  // names match in any case), its nodes under 0a.
  const std::string services = daemon.dir() + kServices;
  EXPECT_EQ(read_file(services + "qv781s00/Devices/2000002037a1b2c3"), "31\n");
  EXPECT_EQ(read_file(services + "qv781s00/LogError"), "16\n");
  EXPECT_EQ(read_file(services + "qv781s0A/MaxFrameSize"), "1024\n");
  DaemonProcess fresh(options(model()));
  EXPECT_EQ(set(fresh.port(), "3.2.1.2.", "00aa:0:2"), "OK");
  EXPECT_EQ(read_file(fresh.dir() + kServices + "qv781s0a/Devices/00aa"), "2\n");
  EXPECT_EQ(daemon.stop(), 0);
  EXPECT_NE(daemon.output().find("TAVRO: program exiting.\n"), std::string::npos);
  std::string log = read_file(daemon.dir() + "/devices.log");
  for (const char* line : {"open \\\\.\\qv781s00 ok\n", "open \\\\.\\qv781s01 ok\n",
                           "open \\\\.\\qv781s0A ok\n", "close 00\n", "close 01\n", "close 0A\n"}) {
    EXPECT_EQ(occurrences(log, line), 1) << line << log;
  }
  EXPECT_NE(daemon.output().find("FCOPEN(2) found 0xa"), std::string::npos) << daemon.output();
}

// The first device cannot describe itself nor name its network interface,
// and the registry's root or a key folder cannot be opened. A registry that
// does not exist yet holds no values: reads give the defaults, a write makes it.
TEST(Direct, FailuresOfTheFirstDeviceAndOfTheRegistry) {
  DaemonOptions o = options(model(R"([{"fail": ["0x222022", "0x222064"]}])"));
  const std::string root = o.working_dir + "/absent/registry";
  o.env.emplace_back("TAVRO_REGISTRY_DIR", root);
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(request(port, "FCGET " + kDescriptionOid + "\n"), "Error: FC IO error");
  EXPECT_EQ(get(port, "1.3.3.1.0"), "Error: fcdiGetIpAddr() FC IO error");
  EXPECT_EQ(daemon.output().find("TAVRO: Running"), std::string::npos) << "no debugger output";
  EXPECT_EQ(get(port, "1.3.1.1.0"), "2048");
  EXPECT_EQ(set(port, "1.3.1.1.0", "1024"), "OK");
  EXPECT_EQ(get(port, "1.3.1.1.0"), "1024");
  EXPECT_EQ(read_file(root + kServices.substr(9) + "qv781s00/MaxFrameSize"), "1024\n");
  std::filesystem::remove_all(root);
  write_file(root, "a file where the folder of HKEY_LOCAL_MACHINE should be");
  EXPECT_EQ(get(port, "1.3.1.1.0"), "Error: fc_settings(16) NT Registry error 1");
  EXPECT_EQ(set(port, "1.3.1.1.0", "1"), "Error: fcdiSetKey() NT Registry error 1");
  EXPECT_EQ(set(port, "1.2.1.2.", "00aa:0:1"), "Error: fcdiSetNode() NT Registry error 1");
  ::unlink(root.c_str());
  ::mkdir(root.c_str(), 0755);
  write_file(root + "/System", "a file where a key should be");
  EXPECT_EQ(get(port, "1.3.1.1.0"), "Error: fc_settings(17) NT Registry error 2");
  EXPECT_EQ(set(port, "1.3.1.1.0", "1"), "Error: fcdiSetKey() NT Registry error 2");
}

TEST(Direct, WithoutDevicesEverySlotIsEmptyAndTheDevicesAreProbedOnce) {
  const std::string absent = R"([{"present": false}, {"present": false}, {"present": false}])";
  DaemonOptions o = options(model(absent), {"-d", "0x80000"});
  o.env.emplace_back("TAVRO_DEBUG_OUTPUT", o.working_dir + "/debug.out");  // debugger output
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(get(port, "1.1.1.1.0"), "Error: Adapter(0) Inactive");
  EXPECT_EQ(read_file(o.working_dir + "/debug.out").rfind("TAVRO: Running WinMain().\n", 0), 0u);
  EXPECT_EQ(daemon.output().find("TAVRO: Running"), std::string::npos) << "only to the file";
  EXPECT_EQ(get(port, "1.1.1.1.0"), "Error: Adapter(0) Inactive");
  EXPECT_EQ(request(port, "FCGET " + kDescriptionOid + "\n"), "Error: Not supported yet()");
  std::string log = read_file(daemon.dir() + "/devices.log");
  EXPECT_EQ(occurrences(log, "missing\n"), 128);
  EXPECT_EQ(occurrences(log, "ok\n"), 0);
  EXPECT_NE(daemon.output().find("FCOPEN() 0=2 1=2 2=2 3=2 4=2 5=2 6=2 7=2"), std::string::npos)
      << daemon.output();
}

}  // namespace
}  // namespace tavro::testing
