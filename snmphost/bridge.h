// tavro-snmpd-bridge: extension agents put under net-snmp's snmpd as an
// AgentX subagent. Every request snmpd forwards becomes one
// SnmpExtensionQuery of the agent whose view it falls in, and back.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "snmphost/agent_library.h"
#include "snmphost/notifier.h"

namespace tavro {

class EventLog;

// Seconds snmpd is asked to wait for an answer: longer than the driver's
// 6-second rendezvous, so a slow driver answer is not answered twice.
inline constexpr int kAgentxTimeoutSeconds = 15;
// How often the bridge checks that snmpd is still there, and reconnects.
inline constexpr int kAgentxPingSeconds = 1;
// The event log of the bridge and its agents, when set.
inline constexpr const char* kBridgeEventLogVariable = "TAVRO_SNMP_EVENT_LOG";

// The bridge's configuration file, when -c does not name one.
inline constexpr const char* kBridgeConfig = "/etc/tavro/snmpd-bridge.conf";

struct BridgeConfig {
  bool notifications = true;  // "notifications off" turns them off
};
// Reads the configuration: "#" comments, blank lines and
// "notifications on|off". A missing file is the defaults; false with error
// for a line it does not know.
bool read_bridge_config(const std::string& path, BridgeConfig& config, std::string& error);

// The event-log level of a net-snmp log message's syslog priority.
int event_level(int priority);

class SnmpBridge {
 public:
  explicit SnmpBridge(EventLog& events) : events_(events) {}
  ~SnmpBridge();
  SnmpBridge(const SnmpBridge&) = delete;
  SnmpBridge& operator=(const SnmpBridge&) = delete;

  // Loads every agent; false (with error) when one is not found or does not start.
  bool load(const std::vector<std::string>& names, std::string& error);
  // Starts the AgentX subagent (agentx: snmpd's agentXSocket, empty for
  // net-snmp's default) and registers each agent's view. Prints to out one
  // line per view each time the views are registered with snmpd, and a line
  // when snmpd cannot be reached or is lost (net-snmp tries again every
  // kAgentxPingSeconds).
  bool start(const std::string& agentx, std::FILE* out);
  // Before start: whether driver events become SNMP notifications.
  void set_notifications(bool on) { notifications_ = on; }
  // Serves requests, one at a time, until stop is set.
  void run(const std::atomic<bool>& stop);
  bool connected() const { return connected_; }
  // Ends the subagent and unloads the agents (each closes its channel).
  void shutdown();

 private:
  // Tells out whether the views are now served by snmpd, when that changed.
  void report();
  void start_notifications();

  EventLog& events_;
  std::vector<std::unique_ptr<AgentLibrary>> agents_;
  RequestBudget budget_;
  std::string address_;
  std::FILE* out_ = nullptr;
  bool started_ = false;
  bool connected_ = false;  // set by net-snmp's session callbacks
  bool reported_ = false;   // the last state out was told
  bool told_ = false;       // out was told anything yet
  bool notifications_ = true;
  std::unique_ptr<Notifier> notifier_;
};

// The text form of a view, ".1.3.6..." .
std::string view_text(const std::vector<std::uint32_t>& view);

}  // namespace tavro
