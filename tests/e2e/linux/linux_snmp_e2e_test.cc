// What monitoring sees of the dual-port card on the Linux driver library:
// stdagent through a private snmpd and the bridge, and the Prometheus SNMP
// exporter's scrape.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

const std::string kFixture = std::string(TAVRO_FIXTURES) + "/dual_port";
const std::string kUnit1 = "0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1";

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
  std::string object;  // unit 1 below .1.3.6.1.3.94.: its port 1 is host3, port 2 host4
  std::string want;    // the walk's value, "" where it leaves it out; or host3's number
  int bytes;           // the number's Hex-STRING length; 0: want is the walk's text
  std::string metric;  // the exporter's series, or ""
};

const Row kRows[] = {
    {"1.6.1.2." + kUnit1, "0x21000024ff3a5b10", 8, ""},  // port_name
    {"1.10.1.3." + kUnit1 + ".1", "INTEGER: 5", 0, ""},  // NPort
    {"1.10.1.6." + kUnit1 + ".1", "INTEGER: 2", 0, "fc_port_state 2"},
    {"1.10.1.8." + kUnit1 + ".1", "", 0, ""},                           // connector: not told
    {"1.10.1.11." + kUnit1 + ".1", "0x010a00", 3, ""},                  // port_id
    {"1.10.1.12." + kUnit1 + ".1", "STRING: \"TVX2051K0123\"", 0, ""},  // serial_num
    {"1.10.1.13." + kUnit1 + ".1", "", 0, ""},  // hardware version: not told
    {"1.10.1.15." + kUnit1 + ".1", "INTEGER: 200000", 0,
     "fc_port_speed_kilobytes_per_second 200000"},                // "16 Gbit"
    {"1.10.1.22." + kUnit1 + ".1", "0x20000024ff3a5b10", 8, ""},  // node_name
    // invalid_tx_word_count 0x1e0e and error_frames 0x1808
    {"4.5.1.3." + kUnit1 + ".1", "0x3616", 8, "fc_port_errors_total"},
    {"4.5.1.4." + kUnit1 + ".1", "0x1202", 8, "fc_port_tx_frames_total"},
    {"4.5.1.5." + kUnit1 + ".1", "0x1404", 8, "fc_port_rx_frames_total"},
    {"4.5.1.6." + kUnit1 + ".1", "0x4c0c", 8, "fc_port_tx_bytes_total"},  // tx_words 0x1303 x 4
    {"4.5.1.7." + kUnit1 + ".1", "0x5414", 8, "fc_port_rx_bytes_total"},  // rx_words 0x1505 x 4
    {"1.10.1.15." + kUnit1 + ".2", "", 0, ""},                            // link down: no speed
    {"4.5.1.4." + kUnit1 + ".2", "0x2202", 8, ""},
    {"4.5.1.6." + kUnit1 + ".2", "0x8c0c", 8, ""},  // tx_words 0x2303 x 4
};

class LinuxSnmp : public BridgeTest {};

TEST_F(LinuxSnmp, WalkAndScrapeShowTheFixtureFiles) {
  start({"stdagent"}, "",
        {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}, {"TAVRO_SYSFS_ROOT", kFixture}});
  std::string walk = client("snmpwalk", {".1.3.6.1.3.94"}).output;
  const char* exporter = "/usr/bin/prometheus-snmp-exporter";
  std::string scraped;
  DaemonOptions o;
  o.program = exporter;
  o.add_port = false;
  o.port = free_port();
  o.args = {"--config.file=" TAVRO_SNMP_MODULE,
            "--web.listen-address=127.0.0.1:" + std::to_string(o.port)};
  if (::access(exporter, X_OK) == 0) {
    DaemonProcess scraper(o);
    scraped = request(o.port, "GET /snmp?target=127.0.0.1:" + std::to_string(snmpd_.port()) +
                                  "&module=fc_adapters HTTP/1.0\r\n\r\n");
    EXPECT_EQ(scraped.rfind("HTTP/1.0 200", 0), 0u) << scraped;
  }
  std::string labels = "{adapter=\"pci0000:3b/dev00\",port=\"1\",unit=\"0x" + std::string(31, '0') +
                       "1\",wwn=\"0x21000024FF3A5B10\"} ";
  for (const Row& r : kRows) {
    std::string name = ".1.3.6.1.3.94." + r.object + " = ";
    auto at = walk.find(name);
    std::string line = at == std::string::npos ? "" : walk.substr(at, walk.find('\n', at) - at);
    const std::uint64_t number = r.bytes ? std::stoull(r.want, nullptr, 16) : 0;
    std::string want = r.bytes ? hex(number, r.bytes) : r.want;
    EXPECT_EQ(line.substr(0, line.find_last_not_of(' ') + 1), want.empty() ? "" : name + want);
    if (r.metric.empty() || scraped.empty()) continue;
    std::string metric = r.metric.substr(0, r.metric.find(' '));
    std::string series = r.bytes ? std::to_string(number) : r.metric.substr(metric.size() + 1);
    EXPECT_NE(scraped.find("\n" + metric + labels + series + "\n"), std::string::npos)
        << metric << scraped;
  }
  if (!scraped.empty()) {
    std::string port2 = "{adapter=\"pci0000:3b/dev00\",port=\"2\",unit=\"0x" +
                        std::string(31, '0') + "1\",wwn=\"0x21000024FF3A5B11\"} ";
    EXPECT_NE(scraped.find("\nfc_port_tx_frames_total" + port2 + "8706\n"), std::string::npos);
  }
  // One past: the second unit, and the first unit's third port.
  for (const char* past : {"2.1", "1.3"}) {
    std::string got =
        client("snmpget", {".1.3.6.1.3.94.1.10.1.15." + kUnit1.substr(0, 30) + past}).output;
    EXPECT_NE(got.find("No Such Instance"), std::string::npos) << got;
  }
}

}  // namespace
}  // namespace tavro::testing
