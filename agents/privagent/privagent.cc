// privagent: the private tree .1.3.6.1.4.1.48217.3 over SNMP, served by the
// daemon's own object tables and handlers.
#include "agents/privagent/privagent.h"

#include "agents/frame/exports.h"
#include "objects/handlers.h"
#include "objects/qdn_oid.h"

namespace tavro {
namespace {

constexpr std::uint32_t kView[] = {1, 3, 6, 1, 4, 1, 48217, 3};

// The INTEGER objects a manager may write, and the values they take; the
// others take any non-negative number.
constexpr WriteRange kWriteRanges[] = {
    {"3.5.1.5", 0, 1},           // port state: 0 disabled, 1 enabled
    {"2.11.0", 0, 1},            // FCP manual SCSI-ID mode
    {"4.3.1.7", 0, 1},           // channel ready
    {"4.9.1.3", 0, 1},           // remote node blocked
    {"3.7.1.3", 0, 0x7FFFFFFF},  // user topology (a driver code)
    {"4.9.1.1", 0, 0x7FFFFFFF},
    {"4.9.1.2", 0, 0x7FFFFFFF},  // target ID
    {nullptr, 0, 0},
};

// The duplex status is indexed by port WWN but asked of the adapter by
// name: the driver never answers it, and a walk would wait for it.
constexpr const char* kUnwalked[] = {"3.7.1.14", nullptr};

}  // namespace

const AgentProfile kPrivAgentProfile{kView,
                                     8,
                                     kAgentBranch,
                                     kAgentBranch,
                                     "SNMP",
                                     0x534E0000,
                                     oid_get_table,
                                     oid_set_table,
                                     tavro_responses,
                                     qdn_not_supported,
                                     kWriteRanges,
                                     false,
                                     kUnwalked,
                                     true,
                                     true};

AgentFrame* make_agent() {
  return new AgentFrame(kPrivAgentProfile);
}

}  // namespace tavro
