// The dual-port card's tree changed under the daemon and the bridge (stdagent)
// on the Linux driver library, the bridge with a private snmpd that sends
// its notifications to a private snmptrapd: each change is one event record
// in both event logs and one connUnitEventTrap, a port's state change also a
// connUnitPortStatusChange.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

namespace fs = std::filesystem;

const std::string kUnit1 = ".0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1";
const std::string kH3 = "pci0000:3b/dev00 port 21000024FF3A5B10";

struct Row {
  const char* path;  // below the tree's root
  const char* text;  // written to it; "" removes it
  std::string record;
  int severity;    // FcEventSeverity
  int type;        // connUnitEventType
  int port_state;  // connUnitPortState of host3's port after it; 0: no port change
};

// The FCMGMT-MIB binding of event n's column, as snmptrapd prints it.
std::string event_column(int column, int n, const std::string& unit) {
  return ".1.3.6.1.3.94.1.11.1." + std::to_string(column) + unit + "." + std::to_string(n) + " = ";
}

TEST(EventsE2e, ChangesBecomeRecordsAndNotifications) {
  ASSERT_EQ(::access("/usr/sbin/snmptrapd", X_OK), 0) << "scripts/deps --test installs snmptrapd";
  const std::string dir = make_temp_dir();
  const fs::path tree = fs::path(dir) / "sys";
  fs::copy(TAVRO_FIXTURES "/dual_port", tree,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);

  DaemonOptions t;
  t.program = "/usr/sbin/snmptrapd";
  t.add_port = t.wait_ready = false;
  t.working_dir = dir;
  const int trap_port = free_port();
  write_file(dir + "/snmptrapd.conf", "disableAuthorization yes\n");
  t.args = {"-f",
            "-On",
            "-n",
            "-C",
            "-c",
            dir + "/snmptrapd.conf",
            "-Lf",
            dir + "/traps.log",
            "-x",
            "unix:" + dir + "/no-agentx",
            "udp:127.0.0.1:" + std::to_string(trap_port)};
  t.env = {{"MIBS", ""}, {"MIBDIRS", "/dev/null"}, {"SNMP_PERSISTENT_DIR", dir + "/trapd"}};
  DaemonProcess trapd(t);
  ASSERT_TRUE(wait_for_text(dir + "/traps.log", "NET-SNMP version")) << trapd.output();

  SnmpdProcess snmpd({"trap2sink 127.0.0.1:" + std::to_string(trap_port) + " public"});
  const std::string events = dir + "/events.log";
  write_file(events, "");  // the agents append to it
  auto bridge = start_bridge(snmpd, {"stdagent"},
                             {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"},
                              {"TAVRO_SYSFS_ROOT", tree.string()},
                              {"TAVRO_SNMP_EVENT_LOG", events}});
  ASSERT_TRUE(bridge->running()) << bridge->output();
  const std::string daemon_events = dir + "/daemon-events.log";
  write_file(daemon_events, "");  // the daemon opens it, does not create it
  DaemonProcess daemon({.args = {"-fclog", daemon_events, "-fclf", "0xFF"},
                        .env = {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"},
                                {"TAVRO_SYSFS_ROOT", tree.string()}}});
  ASSERT_TRUE(wait_for_text(daemon_events, "Registration completed")) << daemon.output();

  const std::vector<Row> rows = {
      {"class/fc_host/host3/port_state", "Linkdown",
       "DRV WARNG: " + kH3 + ": link down (Online -> Linkdown)", 6, 3, 3},
      {"class/fc_host/host3/port_state", "Online",
       "DRV NOTCE: " + kH3 + ": link up (Linkdown -> Online), 16 Gbit", 7, 3, 2},
      {"class/fc_host/host3/port_state", "Error",
       "DRV ERROR: " + kH3 + ": in error (Online -> Error)", 5, 3, 3},
      {"class/fc_remote_ports/rport-3:0-1", "",
       "DRV WARNG: " + kH3 + ": remote port 220000D0B2C3D4F6 (node 200000D0B2C3D4F6) lost", 6, 5,
       0},
      {"class/fc_host/host3", "", "DRV WARNG: " + kH3 + ": port gone", 6, 3, 0},
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.record);
    ++n;
    if (*r.text == '\0') {
      fs::remove_all(tree / r.path);
    } else {
      std::ofstream(tree / r.path) << r.text << "\n";
    }
    // stdagent and the bridge's own registration receive it; the agent logs it.
    EXPECT_TRUE(wait_for_text(events, r.record)) << read_file(events);
    EXPECT_TRUE(wait_for_text(daemon_events, r.record)) << read_file(daemon_events);
    const std::string unit = kUnit1;
    EXPECT_TRUE(wait_for_text(
        dir + "/traps.log",
        event_column(9, n, unit) + "STRING: \"" + r.record.substr(r.record.find(": ") + 2) + "\""))
        << read_file(dir + "/traps.log");
    const std::string traps = read_file(dir + "/traps.log");
    EXPECT_NE(traps.find(event_column(3, n, unit) + "INTEGER: " + std::to_string(n)),
              std::string::npos);
    EXPECT_NE(traps.find(event_column(6, n, unit) + "INTEGER: " + std::to_string(r.severity)),
              std::string::npos);
    EXPECT_NE(traps.find(event_column(7, n, unit) + "INTEGER: " + std::to_string(r.type)),
              std::string::npos);
    // The event's object: the port's connUnitPortState.
    EXPECT_NE(traps.find(event_column(8, n, unit) + "OID: .1.3.6.1.3.94.1.10.1.6" + unit + ".1"),
              std::string::npos)
        << traps;
    if (r.port_state != 0) {
      EXPECT_TRUE(wait_for_text(dir + "/traps.log",
                                ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.3.94.0.6\t"
                                ".1.3.6.1.3.94.1.10.1.7" +
                                    kUnit1 + ".1 = INTEGER: 1\t.1.3.6.1.3.94.1.10.1.6" + kUnit1 +
                                    ".1 = INTEGER: " + std::to_string(r.port_state)))
          << traps;
    }
  }
  EXPECT_EQ(occurrences(read_file(dir + "/traps.log"), "OID: .1.3.6.1.3.94.0.4"), n);
  EXPECT_EQ(occurrences(read_file(daemon_events), " DRV "), n);
  EXPECT_EQ(bridge->stop(15), 0) << bridge->output();
  EXPECT_EQ(daemon.stop(15), 0) << daemon.output();
}

}  // namespace
}  // namespace tavro::testing
