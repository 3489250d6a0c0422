// Shared helpers of the FCGET and FCSET end-to-end tests.
#pragma once

#include <string>

#include "tests/support/daemon_process.h"

namespace tavro::testing {

inline const std::string kAgent = ".1.3.6.1.4.1.48217.3.";
// Objects of the simulator's default model.
inline const std::string kAdapter0 = "/pvd/pci2/dev5/fcp0";
inline const std::string kPort0 = "210000E08B010203";
inline const std::string kNode0 = "200000E08B010203";
inline const std::string kRemote0 = "2000002037A1B2C3";

// A daemon with both commands enabled and an event log in its directory;
// model names a simulator model file (with faults) when not empty.
inline DaemonOptions object_daemon(const std::string& model = "") {
  DaemonOptions o;
  o.args = {"-fcget",     "enabled", "-fcset", "enabled", "-fclog",
            "events.log", "-fclo",   "2",      "-fclf",   "0x1F"};
  if (!model.empty()) o.env.emplace_back("TAVRO_SIM_MODEL", model);
  return o;
}

inline std::string fcget(int port, const std::string& object) {
  return request(port, "FCGET " + kAgent + object + "\n");
}

inline std::string fcset(int port, const std::string& object, const std::string& value) {
  return request(port, "FCSET " + kAgent + object + " " + value + "\n");
}

}  // namespace tavro::testing
