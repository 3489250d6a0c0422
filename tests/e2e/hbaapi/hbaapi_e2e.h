// Shared helpers of the HBAAPI end-to-end tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {

// The first adapter of the simulator's default model.
inline const std::string kHbaAdapter0 = "/pvd/pci2/dev5/fcp0";

// A daemon with HBAAPI and FCGET enabled and an event log in its directory.
inline DaemonOptions hbaapi_daemon(std::vector<std::pair<std::string, std::string>> env = {}) {
  DaemonOptions o;
  o.args = {"-api",       "enabled", "-fcget", "enabled", "-fclog",
            "events.log", "-fclo",   "2",      "-fclf",   "0x1F"};
  o.env = std::move(env);
  return o;
}

inline std::string hbaapi(int port, const std::string& text) {
  return request(port, "HBAAPI " + text + "\n");
}

}  // namespace tavro::testing
