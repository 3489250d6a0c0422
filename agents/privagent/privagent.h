// privagent's profile: the frame with the private tree's constants.
#pragma once

#include "agents/frame/agent_frame.h"

namespace tavro {

extern const AgentProfile kPrivAgentProfile;

}  // namespace tavro
