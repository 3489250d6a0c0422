// stdagent: the Fibre Alliance MIB under .1.3.6.1.3.94, each adapter a
// connectivity unit with one port, walked in the read table's next order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "agents/frame/agent_frame.h"
#include "agents/stdagent/std_handlers.h"

namespace tavro {

extern const AgentProfile kStdAgentProfile;

// Seconds on a steady clock; tests move it instead of waiting an hour.
using SecondsClock = std::function<std::int64_t()>;

// The walk's instance rules, by the row's index kinds, over count adapters.
// next_instance rewrites instance (decoded, cap bytes) to the row's next
// instance, or returns false when the row has none after it.
bool next_instance(char* instance, std::size_t cap, const oid_entry& row, int count);
// The named group entry or table row a walk goes on from for a suffix that
// is no object of the read table; null when there is none.
const oid_entry* walk_fallback(const char* suffix);

class StdAgent final : public AgentFrame {
 public:
  static constexpr std::int64_t kRebuildSeconds = 3601;

  explicit StdAgent(ChannelSettings channel = {}, SecondsClock clock = {});

  int snmpgetnext(snmp_varbind& binding) override;
  // Asks the driver for the adapters again when the table is empty or an
  // hour old.
  void build_adapter_tbl();
  const AdapterTable& adapters() const { return adapters_; }

 private:
  void after_open() override { build_adapter_tbl(); }
  void before_instance_row() override { build_adapter_tbl(); }
  bool ask(const char* oid, const char* instance, char* reply);
  int walk_on(snmp_varbind& binding, const oid_entry* start);
  int move_to(snmp_varbind& binding, const char* text, const oid_entry& row);

  SecondsClock clock_;
  AdapterTable adapters_;
  std::optional<std::int64_t> rebuilt_at_;
};

}  // namespace tavro
