// stdagent: the Fibre Alliance MIB under .1.3.6.1.3.94, each adapter a
// connectivity unit with one port, walked in name order over every unit.
#pragma once

#include "agents/frame/agent_frame.h"

namespace tavro {

extern const AgentProfile kStdAgentProfile;

}  // namespace tavro
