#include "snmphost/bridge.h"

#include <syslog.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "eventlog/event_log.h"
#include "snmphost/query_handler.h"
// After net-snmp's headers, which query_handler.h brings in order.
#include <net-snmp/agent/agent_callbacks.h>

namespace tavro {
namespace {

constexpr const char* kAppName = "tavro-snmpd-bridge";

}  // namespace

int event_level(int priority) {
  if (priority <= LOG_CRIT) return kLevelAlarm;
  if (priority <= LOG_ERR) return kLevelError;
  if (priority <= LOG_WARNING) return kLevelWarning;
  if (priority <= LOG_INFO) return kLevelNotice;
  return kLevelDebug;
}

namespace {

// Where net-snmp's own log messages go. net-snmp frees a callback's
// argument at shutdown, so the log is named here instead.
EventLog* net_snmp_log = nullptr;

int log_to_events(int, int, void* message, void*) {
  if (net_snmp_log == nullptr) return 0;
  const auto* m = static_cast<const snmp_log_message*>(message);
  char text[kRecordMax + 1];
  std::snprintf(text, sizeof text, "%s", m->msg != nullptr ? m->msg : "");
  text[std::strcspn(text, "\r\n")] = '\0';
  net_snmp_log->write(kSourceLxs, event_level(m->priority), text);
  return 0;
}

// The bridge whose session state net-snmp's callbacks set (named here for
// the same reason as the log).
bool* session_open = nullptr;

int note_session(int, int minor, void*, void*) {
  if (session_open != nullptr) *session_open = minor == SNMPD_CALLBACK_INDEX_START;
  return 0;
}

bool register_view(AgentLibrary& agent) {
  std::vector<oid> root(agent.view().begin(), agent.view().end());
  netsnmp_handler_registration* registration = netsnmp_create_handler_registration(
      agent.name().c_str(), query_handler, root.data(), root.size(), HANDLER_CAN_RWRITE);
  if (registration == nullptr) return false;
  registration->handler->myvoid = &agent;
  registration->timeout = kAgentxTimeoutSeconds;
  return netsnmp_register_handler(registration) == MIB_REGISTERED_OK;
}

}  // namespace

bool read_bridge_config(const std::string& path, BridgeConfig& config, std::string& error) {
  std::ifstream in(path);
  std::string line;
  for (int number = 1; in && std::getline(in, line); ++number) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto last = line.find_last_not_of(" \t\r");
    const std::string text = line.substr(first, last - first + 1);
    if (text == "notifications on" || text == "notifications off") {
      config.notifications = text == "notifications on";
    } else {
      error = path + ":" + std::to_string(number) + ": unknown setting \"" + text + "\"";
      return false;
    }
  }
  return true;
}

std::string view_text(const std::vector<std::uint32_t>& view) {
  std::string text;
  for (std::uint32_t id : view) text += "." + std::to_string(id);
  return text;
}

SnmpBridge::~SnmpBridge() {
  shutdown();
}

bool SnmpBridge::load(const std::vector<std::string>& names, std::string& error) {
  for (const std::string& name : names) {
    auto agent = std::make_unique<AgentLibrary>(name);
    if (!agent->ok()) {
      error = agent->error();
      return false;
    }
    agent->set_budget(&budget_);
    agents_.push_back(std::move(agent));
  }
  return true;
}

// The order net-snmp wants: the subagent role, its log, no persistent state
// and no MIB files, the master's socket, init_agent, the registrations,
// init_snmp. shutdown() undoes it in reverse.
bool SnmpBridge::start(const std::string& agentx, std::FILE* out) {
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
  snmp_disable_log();
  net_snmp_log = &events_;
  snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, log_to_events, nullptr);
  snmp_enable_calllog();
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
  setenv("MIBS", "", 1);
  setenv("MIBDIRS", "/dev/null", 1);
  if (!agentx.empty()) {
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, agentx.c_str());
  }
  if (init_agent(kAppName) != 0) return false;
  started_ = true;
  // After init_agent, which puts in its defaults.
  netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                     kAgentxPingSeconds);
  netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_TIMEOUT,
                     kAgentxTimeoutSeconds * ONE_SEC);
  netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_RETRIES, 0);
  for (auto& agent : agents_) {
    if (!register_view(*agent)) return false;
  }
  session_open = &connected_;
  snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START, note_session,
                         nullptr);
  snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_STOP, note_session,
                         nullptr);
  address_ = agentx.empty() ? "net-snmp's default AgentX socket" : agentx;
  out_ = out;
  // Connects to snmpd and registers the views there.
  init_snmp(kAppName);
  report();
  if (notifications_) start_notifications();
  return true;
}

void SnmpBridge::start_notifications() {
  const AgentLibrary* stdagent = nullptr;
  for (auto& agent : agents_) {
    if (agent->name() == "stdagent") stdagent = agent.get();
  }
  notifier_ = std::make_unique<Notifier>(stdagent, budget_);
  if (!notifier_->start()) {
    notifier_.reset();
    events_.write(kSourceLxs, kLevelWarning,
                  "SNMP notifications off: the driver message library took no registration");
  }
}

void SnmpBridge::report() {
  if (out_ == nullptr || (told_ && reported_ == connected_)) return;
  if (connected_) {
    for (auto& agent : agents_) {
      std::fprintf(out_, "%s: registered %s\n", agent->name().c_str(),
                   view_text(agent->view()).c_str());
    }
  } else {
    std::fprintf(out_, "tavro-snmpd-bridge: %s snmpd at %s; trying again every %d s\n",
                 told_ ? "lost" : "cannot reach", address_.c_str(), kAgentxPingSeconds);
  }
  std::fflush(out_);
  told_ = true;
  reported_ = connected_;
}

// A request read after a look that found nothing waiting was sent after
// that look: its budget runs from there.
void SnmpBridge::run(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    if (agent_check_and_process(0) == 0) {
      budget_.quiet();
      agent_check_and_process(1);
    }
    report();
  }
}

void SnmpBridge::shutdown() {
  notifier_.reset();
  if (started_) {
    snmp_shutdown(kAppName);
    shutdown_agent();
    net_snmp_log = nullptr;
    session_open = nullptr;
    started_ = false;
  }
  agents_.clear();
}

}  // namespace tavro
