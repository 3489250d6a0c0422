// One extension agent loaded by name, as the SNMP service loads it: its four
// exports, its supported view, and the unload that runs its process detach.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/snmp_extension.h"

namespace tavro {

// snmpd gives up on a request its AgentX time-out after it sent it, and
// then closes the session. The bridge reads one request at a time, so one
// it reads now may have waited since the bridge last found nothing to read:
// each request must be answered within the budget counted from then.
class RequestBudget {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kBudgetMs = 10000;  // snmpd's agentXTimeout is 15 s

  // Nothing is waiting to be read.
  void quiet() { quiet_since_ = Clock::now(); }
  // Milliseconds left for the request being served; 0 when spent.
  std::uint32_t left_ms() const {
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - quiet_since_);
    return spent.count() >= kBudgetMs ? 0 : static_cast<std::uint32_t>(kBudgetMs - spent.count());
  }

 private:
  Clock::time_point quiet_since_ = Clock::now();
};

class AgentLibrary {
 public:
  // Loads lib<name>.so through the module loader. ok() tells whether the
  // library and its exports were found and its init succeeded; error() why not.
  explicit AgentLibrary(const std::string& name);
  ~AgentLibrary();
  AgentLibrary(const AgentLibrary&) = delete;
  AgentLibrary& operator=(const AgentLibrary&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }
  // The supported view, copied out of the agent.
  const std::vector<std::uint32_t>& view() const { return view_; }

  // One SnmpExtensionQuery within what is left of the budget. False when
  // the agent did not handle the request, or no time is left for an agent
  // without the budget export.
  bool query(std::uint8_t type, snmp_varbind_list& bindings, std::int32_t& status,
             std::int32_t& index) const;
  void set_budget(const RequestBudget* budget) { budget_ = budget; }

  // The write this agent applied last, by snmpd's session, transaction and
  // packet: a request snmpd sends again is answered as before, not written
  // twice.
  struct WriteKey {
    long session = -1;
    long transaction = -1;
    long packet = -1;
    bool operator==(const WriteKey&) const = default;
  };
  bool repeats_last_write(const WriteKey& key, int& error) const {
    if (key.packet == -1 || !(key == last_write_)) return false;
    error = last_write_error_;
    return true;
  }
  void note_write(const WriteKey& key, int error) {
    last_write_ = key;
    last_write_error_ = error;
  }

 private:
  std::string name_;
  std::string error_;
  void* module_ = nullptr;
  snmp_extension_query_fn query_ = nullptr;
  snmp_extension_budget_fn set_budget_ = nullptr;
  const RequestBudget* budget_ = nullptr;
  std::vector<std::uint32_t> view_;
  WriteKey last_write_;
  int last_write_error_ = 0;
};

}  // namespace tavro
