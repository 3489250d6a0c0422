// What Prometheus sees of a host: the real prometheus-snmp-exporter with
// packaging/prometheus/snmp.yml scraping a private snmpd, the bridge with
// both agents and the simulated driver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

constexpr const char* kExporter = "/usr/bin/prometheus-snmp-exporter";

// Three adapters, one port each; counters fixed but the first port's received
// bytes, which grow. The third adapter's port is disabled.
std::string adapter_json(int k, bool enabled) {
  std::string n = std::to_string(k);
  return R"({"name":"/pvd/pci)" + n + R"(/dev1/fcp)" + n + R"(","node_wwn":"20000000000000A)" + n +
         R"(","ports":[{"wwn":"21000000000000A)" + n + R"(","topology":1,"fc_address":"0x0A0B0)" +
         n + R"(","state":)" + (enabled ? "1" : "0") + R"(,"counters":{"tx_seqs":)" + n +
         R"(1,"rx_seqs":)" + n + R"(2,"tx_bytes":)" + n + R"(000000003,"rx_bytes":)" + n +
         R"(4,"tx_errors":)" + n + R"(,"rx_errors":5})" +
         (k == 1 ? R"(,"rates":{"rx_bytes":100000})" : "") + "}]}";
}

struct PortRow {
  int unit;
  std::string wwn, adapter, state, tx_frames, rx_frames, tx_bytes, rx_bytes, errors;
};

// What the exporter must report for each port of the model: state 2 is
// online, 3 offline; errors are sent plus received errors.
const std::vector<PortRow> kPorts = {
    {1, "0x21000000000000A1", "/pvd/pci1/dev1/fcp1", "2", "11", "12", "1.000000003e+09", "", "6"},
    {2, "0x21000000000000A2", "/pvd/pci2/dev1/fcp2", "2", "21", "22", "2.000000003e+09", "24", "7"},
    {3, "0x21000000000000A3", "/pvd/pci3/dev1/fcp3", "3", "31", "32", "3.000000003e+09", "34", "8"},
};

std::string labels(const PortRow& p) {
  char unit[40];
  std::snprintf(unit, sizeof unit, "0x%032X", p.unit);
  return "{adapter=\"" + p.adapter + "\",port=\"1\",unit=\"" + unit + "\",wwn=\"" + p.wwn + "\"} ";
}

class PrometheusE2e : public BridgeTest {
 protected:
  void SetUp() override {
    if (::access(kExporter, X_OK) != 0) {
      GTEST_SKIP() << kExporter << " is not installed (scripts/deps --test installs "
                   << "prometheus-snmp-exporter)";
    }
    BridgeTest::SetUp();
    start({"privagent", "stdagent"}, R"({"adapters":[)" + adapter_json(1, true) + "," +
                                         adapter_json(2, true) + "," + adapter_json(3, false) +
                                         "]}");
    DaemonOptions options;
    options.program = kExporter;
    options.add_port = false;
    options.port = free_port();
    options.args = {"--config.file=" TAVRO_SNMP_MODULE,
                    "--web.listen-address=127.0.0.1:" + std::to_string(options.port)};
    exporter_ = std::make_unique<DaemonProcess>(options);
    ASSERT_TRUE(exporter_->running()) << exporter_->output();
  }
  std::string scrape() {
    std::string reply =
        request(exporter_->port(), "GET /snmp?target=127.0.0.1:" + std::to_string(snmpd_.port()) +
                                       "&module=fc_adapters HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.0 200", 0), 0u) << reply;
    return reply;
  }
  // The value of the sample named by line (metric and labels), or -1.
  static double value_of(const std::string& scraped, const std::string& line) {
    auto at = scraped.find("\n" + line);
    return at == std::string::npos ? -1
                                   : std::strtod(scraped.c_str() + at + 1 + line.size(), nullptr);
  }
  static void expect_line(const std::string& scraped, const std::string& line) {
    EXPECT_NE(scraped.find("\n" + line + "\n"), std::string::npos) << "missing: " << line;
  }

  std::unique_ptr<DaemonProcess> exporter_;
};

TEST_F(PrometheusE2e, ScrapeShowsEveryPortAndALinkGoingDown) {
  std::string scraped = scrape();
  expect_line(scraped, "fc_units 3");
  for (const PortRow& p : kPorts) {
    std::string l = labels(p);
    expect_line(scraped, "fc_port_state" + l + p.state);
    expect_line(scraped, "fc_port_type" + l + "7");
    expect_line(scraped, "fc_port_tx_frames_total" + l + p.tx_frames);
    expect_line(scraped, "fc_port_rx_frames_total" + l + p.rx_frames);
    expect_line(scraped, "fc_port_tx_bytes_total" + l + p.tx_bytes);
    if (!p.rx_bytes.empty()) expect_line(scraped, "fc_port_rx_bytes_total" + l + p.rx_bytes);
    expect_line(scraped, "fc_port_errors_total" + l + p.errors);
    expect_line(scraped, "fc_port_speed_kilobytes_per_second" + l + "25000");
  }
  if (HasFailure()) std::cout << scraped;

  // Port state 0 through privagent takes the second port's link down.
  const std::string received = "fc_port_rx_bytes_total" + labels(kPorts[0]);
  double before = value_of(scraped, received);
  EXPECT_GT(before, 0) << scraped;
  ClientResult set =
      client("snmpset", {".1.3.6.1.4.1.48217.3.3.5.1.5.33.0.0.0.0.0.0.162", "i", "0"}, "private");
  ASSERT_EQ(set.status, 0) << set.output;
  std::string again = scrape();
  expect_line(again, "fc_port_state" + labels(kPorts[1]) + "3");
  // The scrapes are some milliseconds apart, at 100000 bytes a second.
  EXPECT_GT(value_of(again, received), before) << again;
}

}  // namespace
}  // namespace tavro::testing
