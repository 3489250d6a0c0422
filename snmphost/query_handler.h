// The net-snmp handler of one agent's view: converts the requests of one
// pass into an extension-agent binding list, queries the agent and puts the
// answers back.
#pragma once

// net-snmp wants its configuration header first.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
// clang-format on

namespace tavro {

// handler->myvoid is the AgentLibrary of the view.
int query_handler(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
                  netsnmp_agent_request_info* info, netsnmp_request_info* requests);

}  // namespace tavro
