#include "snmphost/agent_library.h"

#include <cstring>

#include "platform/module_loader.h"

namespace tavro {

AgentLibrary::AgentLibrary(const std::string& name) : name_(name) {
  int error = 0;
  module_ = platform::load_module(name.c_str(), &error);
  if (module_ == nullptr) {
    error_ = "agent " + name + " not found (" + platform::module_file_name(name.c_str()) +
             "): " + std::strerror(error);
    return;
  }
  auto init = reinterpret_cast<snmp_extension_init_fn>(
      platform::module_symbol(module_, "SnmpExtensionInit"));
  auto init_ex = reinterpret_cast<snmp_extension_init_ex_fn>(
      platform::module_symbol(module_, "SnmpExtensionInitEx"));
  query_ = reinterpret_cast<snmp_extension_query_fn>(
      platform::module_symbol(module_, "SnmpExtensionQuery"));
  set_budget_ = reinterpret_cast<snmp_extension_budget_fn>(
      platform::module_symbol(module_, "tavro_agent_budget"));
  if (init == nullptr || query_ == nullptr) {
    error_ = "agent " + name + " is not an extension agent";
    return;
  }
  void* trap_event = nullptr;
  snmp_oid view{};
  if (init(0, &trap_event, &view) == 0 || view.idLength == 0 || view.ids == nullptr) {
    error_ = "agent " + name + " refused to start";
    return;
  }
  view_.assign(view.ids, view.ids + view.idLength);
  // Further views are not taken: an agent answers FALSE when it has none.
  if (init_ex != nullptr) init_ex(&view);
}

AgentLibrary::~AgentLibrary() {
  if (module_ != nullptr) platform::unload_module(module_);
}

bool AgentLibrary::query(std::uint8_t type, snmp_varbind_list& bindings, std::int32_t& status,
                         std::int32_t& index) const {
  status = 0;
  index = 0;
  if (query_ == nullptr) return false;
  if (budget_ != nullptr) {
    // With no time left an agent still answers what needs no driver.
    std::uint32_t left = budget_->left_ms();
    if (set_budget_ != nullptr) {
      set_budget_(left);
    } else if (left == 0) {
      return false;
    }
  }
  return query_(type, &bindings, &status, &index) != 0;
}

}  // namespace tavro
