// privagent: the private tree .1.3.6.1.4.1.48217.3 over SNMP, served by the
// daemon's own object tables and handlers.
#include "agents/privagent/privagent.h"

#include "agents/frame/exports.h"
#include "objects/qdn_oid.h"

namespace tavro {
namespace {

constexpr std::uint32_t kView[] = {1, 3, 6, 1, 4, 1, 48217, 3};

}  // namespace

const AgentProfile kPrivAgentProfile{kView,          8,          kAgentBranch,  kAgentBranch,
                                     "SNMP",         0x534E0000, oid_get_table, oid_set_table,
                                     tavro_responses};

AgentFrame* make_agent() {
  return new AgentFrame(kPrivAgentProfile);
}

}  // namespace tavro
