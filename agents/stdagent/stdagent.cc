#include "agents/stdagent/stdagent.h"

#include "agents/frame/exports.h"
#include "agents/stdagent/std_handlers.h"
#include "agents/stdagent/stdmib_table.h"

namespace tavro {
namespace {

constexpr std::uint32_t kView[] = {1, 3, 6, 1, 3, 94};
// No name's text begins so: every SET is answered noSuchName.
constexpr const char* kNoWrites = "no writable objects";

}  // namespace

const AgentProfile kStdAgentProfile{kView,
                                    6,
                                    ".1.3.6.1.3.94.",
                                    kNoWrites,
                                    "FIBA",
                                    0x46490000,
                                    stdmib_get_table,
                                    stdmib_set_table,
                                    stdagent_responses,
                                    std_not_served,
                                    nullptr,
                                    true,
                                    nullptr,
                                    true};

AgentFrame* make_agent() {
  return new AgentFrame(kStdAgentProfile);
}

}  // namespace tavro
