// What Prometheus sees of a host: the real prometheus-snmp-exporter with
// packaging/prometheus/snmp.yml scraping a private snmpd, the bridge with
// both agents and the simulated driver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

constexpr const char* kExporter = "/usr/bin/prometheus-snmp-exporter";

// Port k of model.json, the first of unit k: its labels.
std::string labels(int k) {
  char unit[40];
  std::snprintf(unit, sizeof unit, "0x%032X", k);
  return "{adapter=\"/pvd/pci" + std::to_string(k) + "/dev1/fcp" + std::to_string(k) +
         "\",port=\"1\",unit=\"" + unit + "\",wwn=\"0x21000000000000A" + std::to_string(k) + "\"} ";
}

class PrometheusE2e : public BridgeTest {
 protected:
  void SetUp() override {
    if (::access(kExporter, X_OK) != 0) {
      GTEST_SKIP() << kExporter << " is not installed (scripts/deps --test installs "
                   << "prometheus-snmp-exporter)";
    }
    BridgeTest::SetUp();
    start({"privagent", "stdagent"}, test_data("e2e/prometheus/model.json"));
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

  std::unique_ptr<DaemonProcess> exporter_;
};

TEST_F(PrometheusE2e, ScrapeShowsEveryPortAndALinkGoingDown) {
  std::string scraped = scrape();
  const Vars vars = {{"L1", labels(1)}, {"L2", labels(2)}, {"L3", labels(3)}};
  for (const auto& row : read_rows("e2e/prometheus/scrape_lines.txt", vars)) {
    EXPECT_NE(scraped.find("\n" + row.at(0) + "\n"), std::string::npos) << "missing: " << row.at(0);
  }
  if (HasFailure()) ADD_FAILURE() << scraped;
  // Port state 0 through privagent takes the second port's link down.
  const std::string received = "fc_port_rx_bytes_total" + labels(1);
  double before = value_of(scraped, received);
  EXPECT_GT(before, 0) << scraped;
  ClientResult set =
      client("snmpset", {".1.3.6.1.4.1.48217.3.3.5.1.5.33.0.0.0.0.0.0.162", "i", "0"}, "private");
  ASSERT_EQ(set.status, 0) << set.output;
  std::string again = scrape();
  EXPECT_NE(again.find("\nfc_port_state" + labels(2) + "3\n"), std::string::npos) << again;
  // The scrapes are some milliseconds apart, at 100000 bytes a second.
  EXPECT_GT(value_of(again, received), before) << again;
}

}  // namespace
}  // namespace tavro::testing
