// What monitoring sees of a host with a dual-port card: stdagent through a
// private snmpd and the bridge, and the Prometheus SNMP exporter's scrape,
// on the Linux driver library over the dual_port fixture; and a host folder
// that goes away and comes back.
#include <gtest/gtest.h>
#include <unistd.h>

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

// The sum of the host's files named in "a+b" (hexadecimal, as sysfs writes
// them), times scale.
std::uint64_t counter(const std::string& files, int scale, const std::string& host = "host3") {
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < files.size();) {
    std::size_t end = std::min(files.find('+', at), files.size());
    std::string path = kFixture + "/class/fc_host/" + host + "/" + files.substr(at, end - at);
    sum += std::strtoull(read_file(path).c_str(), nullptr, 0);
    at = end + 1;
  }
  return sum * scale;
}

std::string hex(std::uint64_t v, int bytes) {
  std::string out = "Hex-STRING:";
  for (int k = bytes - 1; k >= 0; --k) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02X", static_cast<unsigned>(v >> (8 * k) & 0xFF));
    out += pair;
  }
  return out;
}

struct WalkRow {
  std::string object;  // below .1.3.6.1.3.94.
  std::string source;  // a file of host3 (statistics "a+b"), or the value
  char kind;           // w WWN, a FC address, c counter, b counter in words, s text, v value,
                       // - not in the walk (the kernel does not tell it)
};

// The first (and last) unit of the card; its port 1 is host3.
const WalkRow kWalk[] = {
    {"1.1.0", "INTEGER: 1", 'v'},
    {"1.6.1.2." + kUnit1, "port_name", 'w'},
    {"1.10.1.1." + kUnit1 + ".1", "port_name", 'w'},
    {"1.10.1.3." + kUnit1 + ".1", "INTEGER: 5", 'v'},  // port_type NPort
    {"1.10.1.6." + kUnit1 + ".1", "INTEGER: 2", 'v'},  // port_state Online
    {"1.10.1.8." + kUnit1 + ".1", "", '-'},
    {"1.10.1.9." + kUnit1 + ".1", "", '-'},
    {"1.10.1.11." + kUnit1 + ".1", "port_id", 'a'},
    {"1.10.1.12." + kUnit1 + ".1", "../../scsi_host/host3/serial_num", 's'},
    {"1.10.1.13." + kUnit1 + ".1", "", '-'},                 // no hardware version
    {"1.10.1.15." + kUnit1 + ".1", "INTEGER: 200000", 'v'},  // speed "16 Gbit"
    {"1.10.1.17." + kUnit1 + ".1", "STRING: \"pci0000:3b/dev00\"", 'v'},
    {"1.10.1.22." + kUnit1 + ".1", "node_name", 'w'},
    {"4.5.1.3." + kUnit1 + ".1", "statistics/invalid_tx_word_count+statistics/error_frames", 'c'},
    {"4.5.1.4." + kUnit1 + ".1", "statistics/tx_frames", 'c'},
    {"4.5.1.5." + kUnit1 + ".1", "statistics/rx_frames", 'c'},
    {"4.5.1.6." + kUnit1 + ".1", "statistics/tx_words", 'b'},
    {"4.5.1.7." + kUnit1 + ".1", "statistics/rx_words", 'b'},
};

std::string expected(const WalkRow& r) {
  std::string file = kFixture + "/class/fc_host/host3/" + r.source;
  switch (r.kind) {
    case 'w':
      return hex(std::strtoull(read_file(file).c_str(), nullptr, 16), 8);
    case 'a':
      return hex(std::strtoull(read_file(file).c_str(), nullptr, 16), 3);
    case 'c':
      return hex(counter(r.source, 1), 8);
    case 'b':
      return hex(counter(r.source, 4), 8);
    case 's':
      return "STRING: \"" + read_file(file).substr(0, read_file(file).find('\n')) + "\"";
    default:
      return r.source;
  }
}

class LinuxSnmp : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    start({"stdagent"}, "", linux_env(kFixture));
  }
};

TEST_F(LinuxSnmp, StdagentWalkShowsTheFixtureFiles) {
  std::string walk = client("snmpwalk", {".1.3.6.1.3.94"}).output;
  for (const WalkRow& r : kWalk) {
    std::string name = ".1.3.6.1.3.94." + r.object + " = ";
    auto at = walk.find(name);
    if (r.kind == '-') {
      EXPECT_EQ(at, std::string::npos) << r.object;
      continue;
    }
    std::string line = at == std::string::npos ? "" : walk.substr(at, walk.find('\n', at) - at);
    EXPECT_EQ(line.substr(0, line.find_last_not_of(' ') + 1), name + expected(r)) << walk;
  }
  // One past: the card's second unit and its first unit's second port.
  for (const std::string& past :
       {std::string("1.10.1.15.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.2.1"), "1.10.1.15." + kUnit1 + ".2"}) {
    std::string got = client("snmpget", {".1.3.6.1.3.94." + past}).output;
    EXPECT_NE(got.find("No Such Instance"), std::string::npos) << got;
  }
}

TEST_F(LinuxSnmp, PrometheusScrapeShowsTheFixtureFiles) {
  const char* exporter = "/usr/bin/prometheus-snmp-exporter";
  if (::access(exporter, X_OK) != 0) GTEST_SKIP() << exporter << " is not installed";
  DaemonOptions o;
  o.program = exporter;
  o.add_port = false;
  o.port = free_port();
  o.args = {"--config.file=" TAVRO_SNMP_MODULE,
            "--web.listen-address=127.0.0.1:" + std::to_string(o.port)};
  DaemonProcess scraper(o);
  std::string scraped =
      request(o.port, "GET /snmp?target=127.0.0.1:" + std::to_string(snmpd_.port()) +
                          "&module=fc_adapters HTTP/1.0\r\n\r\n");
  std::string wwn = read_file(kFixture + "/class/fc_host/host3/port_name");
  char upper[20];
  std::snprintf(upper, sizeof upper, "%016llX", std::strtoull(wwn.c_str(), nullptr, 16));
  std::string labels = "{adapter=\"pci0000:3b/dev00\",port=\"1\",unit=\"0x" + std::string(31, '0') +
                       "1\",wwn=\"0x" + upper + "\"} ";
  const std::pair<std::string, std::uint64_t> series[] = {
      {"fc_port_state", 2},
      {"fc_port_speed_kilobytes_per_second", 200000},
      {"fc_port_tx_frames_total", counter("statistics/tx_frames", 1)},
      {"fc_port_rx_frames_total", counter("statistics/rx_frames", 1)},
      {"fc_port_tx_bytes_total", counter("statistics/tx_words", 4)},
      {"fc_port_rx_bytes_total", counter("statistics/rx_words", 4)},
      {"fc_port_errors_total",
       counter("statistics/invalid_tx_word_count+statistics/error_frames", 1)},
  };
  for (const auto& [metric, value] : series) {
    std::string line = "\n" + metric + labels + std::to_string(value) + "\n";
    EXPECT_NE(scraped.find(line), std::string::npos) << line << scraped;
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
  struct Row {
    std::string object, present, gone;
  };
  const Row rows[] = {
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
    for (const Row& r : rows) {
      std::string got = request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.3." + r.object + "\n");
      const std::string& want = step == 1 ? r.gone : r.present;
      EXPECT_EQ(got.substr(0, want.size()), want) << "step " << step << " " << r.object;
      EXPECT_EQ(got.size() == want.size(), want != "Error: ") << got;
    }
  }
}

}  // namespace
}  // namespace tavro::testing
