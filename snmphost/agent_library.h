// One extension agent loaded by name, as the SNMP service loads it: its four
// exports, its supported view, and the unload that runs its process detach.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/snmp_extension.h"

namespace tavro {

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

  // One SnmpExtensionQuery. False when the agent did not handle the request.
  bool query(std::uint8_t type, snmp_varbind_list& bindings, std::int32_t& status,
             std::int32_t& index) const;

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
  std::vector<std::uint32_t> view_;
  WriteKey last_write_;
  int last_write_error_ = 0;
};

}  // namespace tavro
