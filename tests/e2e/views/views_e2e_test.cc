// The same adapters, ports and remote ports in every view of the Linux
// libraries, over the multipath and NPIV fixtures: FCGET, HBAAPI, tavroctl's
// ports, targets and metrics, privagent and stdagent.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/linux_host.h"
#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

struct Port {
  const char* fixture;
  int adapter;
  const char* name;
  int index;
  const char* wwn;  // every port is online (Marginal counts as online)
};
const Port kPorts[] = {
    {"multipath", 0, "pci0000:41/dev00", 0, "21000024FF410001"},
    {"multipath", 0, "pci0000:41/dev00", 1, "21000024FF410002"},
    {"multipath", 1, "pci0000:42/dev00", 0, "21000024FF420001"},  // Marginal
    {"npiv", 0, "pci0000:5a/dev00", 0, "21000024FF5A0001"},
    {"npiv", 0, "pci0000:5a/dev00", 1, "21000024FF5A00F1"},  // the virtual port
};

// Each path once, under the adapter that has it; the gone path nowhere.
struct Path {
  const char* fixture;
  int adapter;
  const char* name;
  const char* node;
  const char* port;
  const char* fc_address;
};
const Path kPaths[] = {
    {"multipath", 0, "pci0000:41/dev00", "50060E8000AA0000", "50060E8000AA0001", "010200"},
    {"multipath", 0, "pci0000:41/dev00", "50060E8000AA0000", "50060E8000AA0003", "030200"},
    {"multipath", 0, "pci0000:41/dev00", "100000051E0A0000", "20FFFC051E0A0000", "FFFFFC"},
    {"multipath", 1, "pci0000:42/dev00", "50060E8000AA0000", "50060E8000AA0002", "020200"},
    {"npiv", 0, "pci0000:5a/dev00", "50060E8000BB0000", "50060E8000BB0001", "010200"},
};

std::string bytes_of(const std::string& wwn) {
  std::string out;
  for (std::size_t i = 0; i < wwn.size(); i += 2) out += (i ? " " : "") + wwn.substr(i, 2);
  return out;
}

// A port's instance below the private tree: its WWN's bytes.
std::string instance_of(const std::string& wwn) {
  std::string out;
  for (std::size_t i = 0; i < wwn.size(); i += 2)
    out += (i ? "." : "") + std::to_string(std::stoul(wwn.substr(i, 2), nullptr, 16));
  return out;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Views : public BridgeTest {};

TEST_F(Views, ShowOneIdentityAndStateEach) {
  if (std::string why = no_namespace(); !why.empty()) GTEST_SKIP() << why;
  for (const char* tree : {"multipath", "npiv"}) {
    const std::string root = sysfs_fixture(tree);
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
    std::size_t n_ports = 0, n_paths = 0;
    for (const Port& p : kPorts) {
      if (std::string(p.fixture) != tree) continue;
      ++n_ports;
      const std::string a = std::to_string(p.adapter), i = std::to_string(p.index), wwn = p.wwn;
      const std::string unit = "0.0.0.0.0.0.0.0.0.0.0.0.0.0.0." + std::to_string(p.adapter + 1);
      const std::string node = fcget("4.2.1.2." + a);
      SCOPED_TRACE(std::string(tree) + " " + a + ":" + i);
      EXPECT_EQ(fcget("4.6.1.2." + node + "." + i), wwn);
      EXPECT_EQ(fcget("3.5.1.5." + wwn), "1");
      const std::string handle = request(daemon.port(), "HBAAPI 5.0." + std::string(p.name) + "\n");
      EXPECT_EQ(request(daemon.port(), "HBAAPI 8.2." + handle + "." + i + "\n"), wwn);
      EXPECT_EQ(request(daemon.port(), "HBAAPI 8.5." + handle + "." + i + "\n"), "00000002");
      EXPECT_NE(ports.find("\n" + a + ":" + i + " "), std::string::npos) << ports;
      EXPECT_EQ(count(ports, wwn + "  online"), 1u) << ports;
      EXPECT_EQ(count(metrics, "tavro_port_state{adapter=\"" + std::string(p.name) + "\",port=\"" +
                                   wwn + "\"} 1\n"),
                1u);
      EXPECT_EQ(count(privagent, "3.7.1.2." + instance_of(wwn) + " = Hex-STRING: " + bytes_of(wwn)),
                1u)
          << privagent;
      EXPECT_EQ(count(privagent, "3.5.1.5." + instance_of(wwn) + " = INTEGER: 1\n"), 1u);
      const std::string std_ports =
          client("snmpget", {".1.3.6.1.3.94.1.10.1.10." + unit + "." + std::to_string(p.index + 1),
                             ".1.3.6.1.3.94.1.10.1.6." + unit + "." + std::to_string(p.index + 1)})
              .output;
      EXPECT_NE(std_ports.find("Hex-STRING: " + bytes_of(wwn)), std::string::npos) << std_ports;
      EXPECT_NE(std_ports.find("INTEGER: 2"), std::string::npos) << std_ports;
    }
    for (const Path& r : kPaths) {
      if (std::string(r.fixture) != tree) continue;
      ++n_paths;
      const std::string port = r.port;
      SCOPED_TRACE(std::string(tree) + " " + port);
      EXPECT_EQ(count(targets, "\n" + std::to_string(r.adapter) + "        " + r.node + "  " +
                                   port + "  " + r.fc_address),
                1u)
          << targets;
      EXPECT_EQ(count(metrics, "tavro_remote_port_info{adapter=\"" + std::string(r.name) +
                                   "\",remote_node=\"" + r.node + "\",remote_port=\"" + port +
                                   "\",fc_address=\"" + r.fc_address + "\""),
                1u);
      EXPECT_EQ(fcget("4.12.1.1." + std::string(r.node) + "." + std::string(r.node) + "." + port),
                r.fc_address);
    }
    EXPECT_EQ(count(ports, "  online"), n_ports) << ports;
    EXPECT_EQ(count(metrics, "\ntavro_remote_port_info{"), n_paths) << metrics;
    EXPECT_EQ(count(targets, "\n"), n_paths + 1) << targets;
    stop_bridge();
  }
}

}  // namespace
}  // namespace tavro::testing
