// The four extension-agent exports and the unload hook. Compiled into each
// agent library; only these four symbols leave it.
#include "agents/frame/exports.h"

#include <cstdlib>

#define TAVRO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The library's agent: made by SnmpExtensionInit, deleted at unload.
tavro::AgentFrame* agent = nullptr;

// Process detach: the library is being unloaded.
__attribute__((destructor)) void process_detach() {
  delete agent;
  agent = nullptr;
}

// A library whose code has run a guarded call on a thread stays mapped
// until the process ends (the thread's clean-up lives in it), so dlclose
// does not reach process_detach. Registered after the channel's own exit
// clean-up, this runs before it: the agent closes its channel itself.
void detach_at_exit() {
  process_detach();
}

}  // namespace

TAVRO_EXPORT int SnmpExtensionInit(std::uint32_t, void** trap_event, snmp_oid* supported_view) {
  delete agent;
  agent = tavro::make_agent();
  return agent->extension_init(trap_event, supported_view);
}

TAVRO_EXPORT int SnmpExtensionInitEx(snmp_oid* supported_view) {
  if (agent == nullptr) return 0;
  int more = agent->extension_init_ex(supported_view);
  static bool hooked = false;
  if (!hooked) hooked = std::atexit(detach_at_exit) == 0;
  return more;
}

TAVRO_EXPORT int SnmpExtensionQuery(std::uint8_t request_type, snmp_varbind_list* bindings,
                                    std::int32_t* error_status, std::int32_t* error_index) {
  if (agent == nullptr || error_status == nullptr || error_index == nullptr) return 0;
  return agent->extension_query(request_type, bindings, error_status, error_index);
}

TAVRO_EXPORT int SnmpExtensionTrap(snmp_oid*, std::int32_t*, std::int32_t*, std::uint32_t*,
                                   snmp_varbind_list*) {
  return 0;
}

// The time the next query may take (the bridge's share of snmpd's wait).
TAVRO_EXPORT void tavro_agent_budget(std::uint32_t milliseconds) {
  if (agent != nullptr) agent->set_budget_ms(milliseconds);
}
