#include <nlohmann/json.hpp>

#include "sim/hbaapi/hbaapi_model.h"

namespace sim {

using nlohmann::json;

namespace {

void parse_section(const json& section, HbaFaults& faults) {
  for (const auto& [key, value] : section.items()) {
    if (!key.empty() && key[0] == '_') continue;
    if (key == "missing") {
      for (const json& name : value) faults.missing.insert(name.get<std::string>());
    } else if (key == "status") {
      for (const auto& [name, status] : value.items()) {
        faults.status[name] = status.get<std::uint32_t>();
      }
    } else if (key == "crash") {
      for (const auto& [name, signal] : value.items()) faults.crash[name] = signal.get<int>();
    } else {
      throw std::runtime_error("hbaapi." + key + ": unknown key");
    }
  }
}

}  // namespace

bool parse_hba_faults(const std::string& json_text, HbaFaults& faults, std::string& error) {
  try {
    json j = json::parse(json_text, nullptr, true, /*ignore_comments=*/true);
    HbaFaults parsed;
    if (j.is_object() && j.contains("hbaapi")) parse_section(j.at("hbaapi"), parsed);
    faults = std::move(parsed);
    return true;
  } catch (const std::exception& e) {
    error = std::string("hbaapi faults: ") + e.what();
    return false;
  }
}

}  // namespace sim
