// The simulated HBA API library's view of the simulated host: the adapters of
// the driver simulator's model, open handles, statistics baselines, the event
// buffer and the faults of the model's "hbaapi" section.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/model.h"

namespace sim {

// Faults of the HBA API library, by exported function name.
struct HbaFaults {
  std::set<std::string> missing;                // not found by dlsym
  std::map<std::string, std::uint32_t> status;  // returned in place of the answer
  std::map<std::string, int> crash;             // signal raised on the next call
};

// Reads the "hbaapi" section of a model text; an absent section gives no
// faults. False with error set when the section is malformed.
bool parse_hba_faults(const std::string& json_text, HbaFaults& faults, std::string& error);

}  // namespace sim
