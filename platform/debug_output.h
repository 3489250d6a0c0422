// Stand-in for the debugger output channel.
//
// Text written here is discarded unless TAVRO_DEBUG_OUTPUT names "stderr" or a
// file to append it to. The choice is read once, at the first write.
#pragma once

namespace platform {

inline constexpr const char* kDebugOutputVariable = "TAVRO_DEBUG_OUTPUT";

void debug_output(const char* text);

}  // namespace platform
