// What each agent library defines for the shared exports (exports.cc).
#pragma once

#include "agents/frame/agent_frame.h"

namespace tavro {

// Makes the library's agent; called by SnmpExtensionInit.
AgentFrame* make_agent();

}  // namespace tavro
