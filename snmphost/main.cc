// tavro-snmpd-bridge [-x ADDRESS] [-c FILE] AGENT...
//
// Loads the extension agents by name and serves their views to snmpd as an
// AgentX subagent, in the foreground, until SIGTERM or SIGINT; driver events
// become SNMP notifications unless the configuration (-c, by default
// /etc/tavro/snmpd-bridge.conf) says "notifications off".
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "eventlog/event_log.h"
#include "snmphost/bridge.h"

namespace {

std::atomic<bool> stop_requested{false};

void request_stop(int) {
  stop_requested = true;
}

int usage() {
  std::fprintf(stderr, "usage: tavro-snmpd-bridge [-x ADDRESS] [-c FILE] AGENT...\n");
  return 2;
}

void install_signals() {
  struct sigaction action {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the wait for snmpd ends at once
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  std::string agentx;
  std::string config_path = tavro::kBridgeConfig;
  std::vector<std::string> agents;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "-x") == 0) {
      if (++k == argc) return usage();
      agentx = argv[k];
    } else if (std::strcmp(argv[k], "-c") == 0) {
      if (++k == argc) return usage();
      config_path = argv[k];
    } else if (argv[k][0] == '-') {
      return usage();
    } else {
      agents.emplace_back(argv[k]);
    }
  }
  if (agents.empty()) return usage();
  tavro::BridgeConfig config;
  std::string config_error;
  if (!tavro::read_bridge_config(config_path, config, config_error)) {
    std::fprintf(stderr, "tavro-snmpd-bridge: %s\n", config_error.c_str());
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);

  const char* log_path = std::getenv(tavro::kBridgeEventLogVariable);
  std::int32_t log_mode = 0;
  std::int32_t log_flags = log_path != nullptr && *log_path != '\0' ? 0x1F : 0;
  tavro::EventLog events({log_path, log_mode, log_flags}, nullptr);
  events.open();

  tavro::SnmpBridge bridge(events);
  bridge.set_notifications(config.notifications);
  std::string error;
  if (!bridge.load(agents, error)) {
    std::fprintf(stderr, "tavro-snmpd-bridge: %s\n", error.c_str());
    return 1;
  }
  if (!bridge.start(agentx, stdout)) {
    std::fprintf(stderr, "tavro-snmpd-bridge: cannot start the AgentX subagent\n");
    return 1;
  }
  // net-snmp sets up its own handling while it starts; ours comes after.
  install_signals();
  bridge.run(stop_requested);
  bridge.shutdown();
  events.close();
  return 0;
}
