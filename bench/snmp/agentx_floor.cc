// The AgentX floor: the least an AgentX subagent can do, as the bridge does
// it (one handler registered for a view root, net-snmp's subagent set up the
// same way) but serving constant scalars .1.3.6.1.3.9999.1.0 to .N.0 with no
// agent behind it. Runs until SIGTERM.
//
//   bench_agentx_floor AGENTX-ADDRESS [objects]    (default 30 objects)
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
// clang-format on

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

const oid kRoot[] = {1, 3, 6, 1, 3, 9999};
constexpr std::size_t kRootLength = 6;
int objects = 30;
volatile std::sig_atomic_t stop = 0;

void on_stop(int) {
  stop = 1;
}

// The column number of a name .root.n.0 (1 to objects), 0 for none.
long scalar_of(const netsnmp_variable_list* vb) {
  if (vb->name_length != kRootLength + 2 || vb->name[kRootLength + 1] != 0) return 0;
  long n = static_cast<long>(vb->name[kRootLength]);
  return n >= 1 && n <= objects ? n : 0;
}

// The first scalar after the name, 0 for none.
long next_of(const netsnmp_variable_list* vb) {
  if (vb->name_length <= kRootLength) return 1;
  long n = static_cast<long>(vb->name[kRootLength]);
  if (vb->name_length == kRootLength + 1) return n < 1 ? 1 : n <= objects ? n : 0;
  return n < 1 ? 1 : n < objects ? n + 1 : 0;
}

int handler(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* info,
            netsnmp_request_info* requests) {
  for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
    netsnmp_variable_list* vb = r->requestvb;
    long n = info->mode == MODE_GETNEXT ? next_of(vb) : scalar_of(vb);
    if (n == 0) {
      if (info->mode == MODE_GET) netsnmp_request_set_error(r, SNMP_NOSUCHOBJECT);
      continue;
    }
    if (info->mode == MODE_GETNEXT) {
      oid name[kRootLength + 2] = {1, 3, 6, 1, 3, 9999, static_cast<oid>(n), 0};
      snmp_set_var_objid(vb, name, kRootLength + 2);
    }
    snmp_set_var_typed_integer(vb, ASN_INTEGER, n);
  }
  return SNMP_ERR_NOERROR;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_agentx_floor AGENTX-ADDRESS [objects]\n");
    return 2;
  }
  if (argc > 2) objects = std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 1;
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
  snmp_disable_log();
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
  setenv("MIBS", "", 1);
  setenv("MIBDIRS", "/dev/null", 1);
  netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, argv[1]);
  if (init_agent("bench_agentx_floor") != 0) return 1;
  netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 1);
  netsnmp_handler_registration* registration =
      netsnmp_create_handler_registration("floor", handler, kRoot, kRootLength, HANDLER_CAN_RONLY);
  if (registration == nullptr || netsnmp_register_handler(registration) != MIB_REGISTERED_OK) {
    return 1;
  }
  init_snmp("bench_agentx_floor");
  std::printf("floor: registered .1.3.6.1.3.9999\n");
  std::fflush(stdout);
  std::signal(SIGTERM, on_stop);
  std::signal(SIGINT, on_stop);
  while (stop == 0) agent_check_and_process(1);
  snmp_shutdown("bench_agentx_floor");
  shutdown_agent();
  return 0;
}
