// A private net-snmp snmpd for end-to-end tests: its own configuration,
// AgentX socket and persistent folder in a temp dir, a UDP port on
// 127.0.0.1, no MIB files; and the real clients run against it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {

inline constexpr const char* kSnmpdProgram = "/usr/sbin/snmpd";

// True when snmpd and the clients are installed.
bool snmp_tools_present();

class SnmpdProcess {
 public:
  // extra: further snmpd.conf lines. Communities: "public" reads, "private"
  // also writes.
  explicit SnmpdProcess(std::vector<std::string> extra = {});

  int port() const { return port_; }
  const std::string& dir() const { return dir_; }
  // The AgentX socket, written as snmpd's agentXSocket.
  std::string agentx() const { return "unix:" + dir_ + "/agentx.sock"; }
  // Stops snmpd and starts it again on the same port and socket.
  void restart();
  int stop() { return process_->stop(); }

 private:
  void start();

  std::string dir_;
  int port_ = 0;
  std::unique_ptr<DaemonProcess> process_;
};

struct ClientResult {
  int status = -1;
  std::string output;  // standard output and standard error
};

// Runs one client (snmpget, snmpset, snmpwalk, ...) against snmpd with
// -v2c, numeric names, no retries and a 20-second time-out.
ClientResult snmp_client(const std::string& tool, const SnmpdProcess& snmpd,
                         const std::vector<std::string>& args,
                         const std::string& community = "public");

// The bridge with the given agents, connected to snmpd; returns once it has
// registered (or ended).
std::unique_ptr<DaemonProcess> start_bridge(
    const SnmpdProcess& snmpd, const std::vector<std::string>& agents,
    std::vector<std::pair<std::string, std::string>> env = {});

}  // namespace tavro::testing
