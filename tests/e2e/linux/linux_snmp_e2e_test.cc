// What monitoring sees of the dual-port card on the Linux driver library:
// stdagent through a private snmpd and the bridge (the exporter's mapping of
// these objects is checked in tests/e2e/prometheus); and a host folder that
// goes away and comes back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

const std::string kFixture = std::string(TAVRO_FIXTURES) + "/dual_port";
const std::string kUnit1 = "0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1";

Env linux_env(const std::string& root) {
  return {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}, {"TAVRO_SYSFS_ROOT", root}};
}

// The sum of host3's files named in "a+b", as sysfs writes them.
std::uint64_t value(const std::string& files) {
  std::uint64_t sum = 0;
  for (std::size_t at = 0, end = 0; at < files.size(); at = end + 1) {
    end = std::min(files.find('+', at), files.size());
    std::string path = kFixture + "/class/fc_host/host3/" + files.substr(at, end - at);
    sum += std::strtoull(read_file(path).c_str(), nullptr, 16);
  }
  return sum;
}

std::string hex(std::uint64_t v, int bytes) {
  std::string out = "Hex-STRING:";
  char pair[4];
  for (int k = bytes - 1; k >= 0; --k) {
    std::snprintf(pair, sizeof pair, " %02X", static_cast<unsigned>(v >> (8 * k) & 0xFF));
    out += pair;
  }
  return out;
}

struct Row {
  std::string object;  // port 1 of unit 1 (host3) below .1.3.6.1.3.94.
  std::string source;  // host3's file(s); "" for a value the walk leaves out
  int bytes;           // the Hex-STRING's length; 0: the text is the walk's value
  int scale;
};

const Row kRows[] = {
    {"1.6.1.2." + kUnit1, "port_name", 8, 1},
    {"1.10.1.3." + kUnit1 + ".1", "INTEGER: 5", 0, 1},  // NPort
    {"1.10.1.6." + kUnit1 + ".1", "INTEGER: 2", 0, 1},
    {"1.10.1.8." + kUnit1 + ".1", "", 0, 1},  // connector: not told
    {"1.10.1.11." + kUnit1 + ".1", "port_id", 3, 1},
    {"1.10.1.12." + kUnit1 + ".1", "STRING: \"TVX2051K0123\"", 0, 1},  // serial_num
    {"1.10.1.13." + kUnit1 + ".1", "", 0, 1},                          // hardware version: not told
    {"1.10.1.15." + kUnit1 + ".1", "INTEGER: 200000", 0, 1},           // "16 Gbit"
    {"1.10.1.22." + kUnit1 + ".1", "node_name", 8, 1},
    {"4.5.1.3." + kUnit1 + ".1", "statistics/invalid_tx_word_count+statistics/error_frames", 8, 1},
    {"4.5.1.4." + kUnit1 + ".1", "statistics/tx_frames", 8, 1},
    {"4.5.1.5." + kUnit1 + ".1", "statistics/rx_frames", 8, 1},
    {"4.5.1.6." + kUnit1 + ".1", "statistics/tx_words", 8, 4},
    {"4.5.1.7." + kUnit1 + ".1", "statistics/rx_words", 8, 4},
};

class LinuxSnmp : public BridgeTest {};

TEST_F(LinuxSnmp, WalkShowsTheFixtureFiles) {
  start({"stdagent"}, "", linux_env(kFixture));
  std::string walk = client("snmpwalk", {".1.3.6.1.3.94"}).output;
  for (const Row& r : kRows) {
    std::string name = ".1.3.6.1.3.94." + r.object + " = ";
    auto at = walk.find(name);
    std::string line = at == std::string::npos ? "" : walk.substr(at, walk.find('\n', at) - at);
    std::string want = r.bytes ? hex(value(r.source) * r.scale, r.bytes) : r.source;
    EXPECT_EQ(line.substr(0, line.find_last_not_of(' ') + 1), want.empty() ? "" : name + want);
  }
  // One past: the second unit, and the first unit's second port.
  for (const char* past : {"2.1", "1.2"}) {
    std::string got =
        client("snmpget", {".1.3.6.1.3.94.1.10.1.15." + kUnit1.substr(0, 30) + past}).output;
    EXPECT_NE(got.find("No Such Instance"), std::string::npos) << got;
  }
}

// A host folder taken from a copy of the fixture: its answers fail, the other
// port's do not, and all come back with the folder.
TEST(LinuxHosts, HostFolderGoneAndBack) {
  std::string root = make_temp_dir() + "/sys";
  ASSERT_EQ(run_command("cp -a " + kFixture + " " + root).status, 0);
  std::string host3 = root + "/devices/pci0000:3a/0000:3a:00.0/0000:3b:00.0/host3";
  DaemonOptions o;
  o.args = {"-fcget", "enabled"};
  o.env = linux_env(root);
  DaemonProcess daemon(o);
  struct {
    std::string object, present, gone;
  } const rows[] = {
      {"3.5.1.3.21000024FF3A5B10", "16", "Error: "},
      {"3.7.1.15.21000024FF3A5B10", "4610", "Error: "},
      {"3.3.1.1.pci0000:3b/dev00", "2", "1"},
      {"3.5.1.9.21000024FF3A5B11", "TVX2051K0124", "TVX2051K0124"},
  };
  for (int step = 0; step < 3; ++step) {
    std::string from = host3 + (step == 2 ? ".gone" : ""), to = host3 + (step == 1 ? ".gone" : "");
    if (step > 0) {
      ASSERT_EQ(::rename(from.c_str(), to.c_str()), 0);
    }
    for (const auto& r : rows) {
      std::string got = request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.3." + r.object + "\n");
      const std::string& want = step == 1 ? r.gone : r.present;
      EXPECT_EQ(want == "Error: " ? got.substr(0, 7) : got, want) << step << " " << r.object;
    }
  }
}

}  // namespace
}  // namespace tavro::testing
