// A private net-snmp snmpd for end-to-end tests: its own configuration,
// AgentX socket and persistent folder in a temp dir, a UDP port on
// 127.0.0.1, no MIB files; and the real clients run against it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {

using Env = std::vector<std::pair<std::string, std::string>>;

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
  void stop();
  void start();

 private:
  std::string dir_;
  int port_ = 0;
  std::unique_ptr<DaemonProcess> process_;
};

// Polls ready every 20 ms for up to 10 seconds.
void wait_until(const std::function<bool()>& ready);

// How snmpget begins its answer when a binding failed with genError (it then
// asks again without that binding).
inline const std::string kGenErrAt =
    "Error in packet\nReason: (genError) A general failure occured\nFailed object: ";

// The bridge with the given agents, connected to snmpd; returns once it has
// registered, found snmpd missing, or ended.
std::unique_ptr<DaemonProcess> start_bridge(const SnmpdProcess& snmpd,
                                            const std::vector<std::string>& agents, Env env = {});

// A private snmpd and the bridge. A bridge still running at the end stops
// cleanly, with nothing from the sanitizers.
class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override { stop_bridge(); }
  // model: the simulator's model as JSON, "" for its default one.
  void start(const std::vector<std::string>& agents, const std::string& model = "", Env env = {});
  void stop_bridge();
  // Runs one client (snmpget, snmpset, snmpwalk, ...) against snmpd with
  // -v2c, numeric names, no retries and a 20-second time-out.
  ClientResult client(const std::string& tool, const std::vector<std::string>& args,
                      const std::string& community = "public");
  // names: every name the agent serves below root, which should be in
  // order. GETNEXT of each, of every prefix of one below root, of each with
  // one sub-identifier one lower or higher and of names between them answers
  // the first served name after it, or one past root.
  void sweep_getnext(const std::vector<std::string>& names, const std::string& root);

  SnmpdProcess snmpd_;
  std::unique_ptr<DaemonProcess> bridge_;
};

}  // namespace tavro::testing
