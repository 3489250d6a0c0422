// The same adapters, ports and remote ports in every view of the Linux
// libraries, over the multipath and NPIV fixtures (views_rows.txt): FCGET,
// HBAAPI, tavroctl's ports, targets and metrics, privagent and stdagent.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/linux_host.h"
#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

// A WWN's bytes, with sep between them in hex ("21 00 ...") or else in decimal
// ("33.0...", a port's instance below the private tree).
std::string bytes_of(const std::string& wwn, const char* sep = " ") {
  std::string out;
  for (std::size_t i = 0; i < wwn.size(); i += 2) {
    std::string byte = wwn.substr(i, 2);
    if (*sep == '.') byte = std::to_string(std::stoul(byte, nullptr, 16));
    out += (i ? sep : "") + byte;
  }
  return out;
}

class Views : public BridgeTest {};

TEST_F(Views, ShowOneIdentityAndStateEach) {
  if (std::string why = no_namespace(); !why.empty()) GTEST_SKIP() << why;
  const auto rows = read_rows("e2e/views/views_rows.txt");
  for (const char* tree : {"multipath", "npiv"}) {
    const std::string root = sysfs_fixture(tree);
    for (const auto& row : rows) {
      if (row.at(0) == "write" && row.at(1) == tree) write_file(root + "/" + row.at(2), row.at(3));
    }
    DaemonProcess daemon(linux_daemon(root));
    start({"privagent", "stdagent"}, "",
          {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}, {"TAVRO_SYSFS_ROOT", root}});
    auto tavroctl = [&](const std::string& args) {
      return run_command(binary_dir() + "/tavroctl --port " + std::to_string(daemon.port()) + " " +
                         args)
          .output;
    };
    auto fcget = [&](const std::string& object) {
      return request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.3." + object + "\n");
    };
    const std::string ports = tavroctl("ports"), targets = tavroctl("targets"),
                      metrics = tavroctl("metrics");
    // privagent's ports: their WWNs (3.7.1.2) and states (3.5.1.5), by port.
    const std::string privagent = client("snmpwalk", {".1.3.6.1.4.1.48217.3.3"}).output;
    int n_ports = 0, n_paths = 0;
    for (const auto& row : rows) {
      if (row.at(1) != tree || row.at(0) == "write") continue;
      if (row.at(0) == "fcget") {
        EXPECT_EQ(fcget(row.at(2)), row.at(3)) << row.at(2);
        continue;
      }
      const std::string& a = row.at(2);
      const std::string& name = row.at(3);
      SCOPED_TRACE(std::string(tree) + " " + a + ":" + row.at(4) + " " + row.at(5));
      if (row.at(0) == "path") {
        ++n_paths;
        const std::string &node = row.at(4), &port = row.at(5), &fc_address = row.at(6);
        EXPECT_EQ(
            occurrences(targets, "\n" + a + "        " + node + "  " + port + "  " + fc_address), 1)
            << targets;
        EXPECT_EQ(occurrences(metrics, "tavro_remote_port_info{adapter=\"" + name +
                                           "\",remote_node=\"" + node + "\",remote_port=\"" + port +
                                           "\",fc_address=\"" + fc_address + "\""),
                  1);
        EXPECT_EQ(fcget("4.12.1.1." + node + "." + node + "." + port), fc_address);
        continue;
      }
      ++n_ports;
      const std::string &i = row.at(4), &wwn = row.at(5);
      const std::string unit = "0.0.0.0.0.0.0.0.0.0.0.0.0.0.0." + std::to_string(std::stoi(a) + 1);
      const std::string node = fcget("4.2.1.2." + a);
      EXPECT_EQ(fcget("4.6.1.2." + node + "." + i), wwn);
      EXPECT_EQ(fcget("3.5.1.5." + wwn), "1");
      const std::string handle = request(daemon.port(), "HBAAPI 5.0." + name + "\n");
      EXPECT_EQ(request(daemon.port(), "HBAAPI 8.2." + handle + "." + i + "\n"), wwn);
      EXPECT_EQ(request(daemon.port(), "HBAAPI 8.5." + handle + "." + i + "\n"), "00000002");
      EXPECT_NE(ports.find("\n" + a + ":" + i + " "), std::string::npos) << ports;
      EXPECT_EQ(occurrences(ports, wwn + "  online"), 1) << ports;
      EXPECT_EQ(occurrences(metrics,
                            "tavro_port_state{adapter=\"" + name + "\",port=\"" + wwn + "\"} 1\n"),
                1);
      const std::string instance = bytes_of(wwn, ".");
      EXPECT_EQ(occurrences(privagent, "3.7.1.2." + instance + " = Hex-STRING: " + bytes_of(wwn)),
                1)
          << privagent;
      EXPECT_EQ(occurrences(privagent, "3.5.1.5." + instance + " = INTEGER: 1\n"), 1);
      const std::string std_port = unit + "." + std::to_string(std::stoi(i) + 1);
      const std::string std_ports = client("snmpget", {".1.3.6.1.3.94.1.10.1.10." + std_port,
                                                       ".1.3.6.1.3.94.1.10.1.6." + std_port})
                                        .output;
      EXPECT_NE(std_ports.find("Hex-STRING: " + bytes_of(wwn)), std::string::npos) << std_ports;
      EXPECT_NE(std_ports.find("INTEGER: 2"), std::string::npos) << std_ports;
    }
    EXPECT_EQ(occurrences(ports, "  online"), n_ports) << ports;
    EXPECT_EQ(occurrences(metrics, "\ntavro_remote_port_info{"), n_paths) << metrics;
    EXPECT_EQ(occurrences(targets, "\n"), n_paths + 1) << targets;
    stop_bridge();
  }
}

}  // namespace
}  // namespace tavro::testing
