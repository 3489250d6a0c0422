// The frame every SNMP extension agent is built on: its exports' work, its
// own driver channel, and the resolution of variable bindings against an
// object table through the object handlers.
//
// One AgentFrame per agent library, made by SnmpExtensionInit and deleted
// when the library is unloaded. Queries come one at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "agents/frame/adapter_table.h"
#include "agents/frame/debug_log.h"
#include "base/diag.h"
#include "channel/channel.h"
#include "eventlog/event_log.h"
#include "objects/object_call.h"
#include "objects/oid_table.h"
#include "platform/snmp_extension.h"

namespace tavro {

// The values a write of an INTEGER object may take.
struct WriteRange {
  const char* oid;  // suffix of the write row
  std::int64_t low;
  std::int64_t high;
};

// What tells one agent from another.
struct AgentProfile {
  const std::uint32_t* view;  // the supported view, owned by the agent
  std::uint32_t view_length;
  const char* prefix;      // the view as text with a trailing "."
  const char* set_prefix;  // what a SET request is compared with
  const char* registration_name;
  std::uint32_t handle_bits;  // upper 16 bits of the registration handle
  const oid_entry* get_table;
  const oid_entry* set_table;
  const ResponseRow* responses;
  oid_handler unserved;             // the handler of known objects that are not served
  const WriteRange* write_ranges;   // ended by a null row; may be null
  bool build_at_open;               // the adapter table is built when the channel opens
  const char* const* unwalked;      // rows a walk passes over, ended by null; may be null
  bool reads_every_port;            // discovery learns each port of each adapter's node
  bool reads_remote_nodes = false;  // and each remote node the node sees
};

// Seconds on a steady clock; tests move it instead of waiting an hour.
using SecondsClock = std::function<std::int64_t()>;

inline constexpr std::int32_t kAgentDebug = 0x300F0000;
inline constexpr const char* kAgentEventLogVariable = "TAVRO_SNMP_EVENT_LOG";

class AgentFrame {
 public:
  static constexpr std::size_t kBufferSize = 4096;
  // The adapter table is rebuilt when it is this old, or empty.
  static constexpr std::int64_t kRebuildSeconds = 3601;
  // A name discovery does not know makes it ask again when its table is
  // this old: an adapter added since is found.
  static constexpr std::int64_t kRecheckSeconds = 60;

  explicit AgentFrame(const AgentProfile& profile, ChannelSettings channel = {},
                      SecondsClock clock = {});
  virtual ~AgentFrame();
  AgentFrame(const AgentFrame&) = delete;
  AgentFrame& operator=(const AgentFrame&) = delete;

  // The exports.
  int extension_init(void** trap_event, snmp_oid* supported_view);
  int extension_init_ex(snmp_oid* supported_view);
  int extension_query(std::uint8_t request_type, snmp_varbind_list* bindings,
                      std::int32_t* error_status, std::int32_t* error_index);

  // The time the next query may take; what is left when it is spent is
  // answered genErr, and no driver wait lasts past it.
  void set_budget_ms(std::uint32_t milliseconds);

  int resolve_varbind(snmp_varbind& binding, std::uint8_t request_type);
  int snmpget(snmp_varbind& binding);
  int snmpset(snmp_varbind& binding);
  // The first served name after the binding's that answers, or 2 (past the
  // view) when there is none.
  int snmpgetnext(snmp_varbind& binding);

  // Asks the driver for the adapters again when the table is empty or an
  // hour old (force: always).
  void build_adapter_tbl(bool force = false);
  const AdapterTable& adapters() const { return adapters_; }
  // Every name the agent serves, in order, as discovery knows them.
  const std::vector<SubIds>& served_names();

  void snmp_open();
  void snmp_close();

  Channel& channel() { return channel_; }
  ObjectServices& services() { return services_; }
  DebugLog& debug_log() { return log_; }
  const AgentProfile& profile() const { return profile_; }

 private:
  // Calls row's handler on text (the decoded instance, kBufferSize bytes)
  // and returns the reply check's status.
  int call_handler(const oid_entry& row, char* text);
  bool ask(const char* oid, const char* instance, char* reply);
  bool read_wwns(const AdapterEntry& entry, const char* count_oid, const char* wwn_oid,
                 char (*out)[17], int max, std::int32_t& n);
  bool time_spent() const;
  bool unwalked(const oid_entry& row) const;
  bool instance_known(const oid_entry& row, const std::uint32_t* ids, std::size_t n);
  bool listed(const std::string& kinds, const std::uint32_t* ids, std::size_t n) const;
  int write_fits(const oid_entry& row, const snmp_value& value) const;
  int resolve_in(snmp_varbind& binding, const char* prefix, const oid_entry* table, bool is_set);
  int answer_past_view(snmp_varbind& binding);
  void trace_name(const char* title, const snmp_oid& name);
  void open_trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

  const AgentProfile profile_;
  // The event log is written when TAVRO_SNMP_EVENT_LOG names a file.
  std::int32_t debug_ = kAgentDebug;
  std::int32_t event_open_ = 0;
  std::int32_t event_flags_ = 0;
  const char* event_path_ = nullptr;
  Diag diag_{debug_};
  EventLog events_{{event_path_, event_open_, event_flags_}, &diag_};
  Channel channel_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  ObjectServices services_{channel_, diag_, events_, nullptr, start_};
  DebugLog log_;
  std::uint32_t process_id_ = 0;
  char process_text_[16] = "";
  int attempts_ = 0;
  bool initialised_ = false;
  SecondsClock clock_;
  AdapterTable adapters_;
  std::optional<std::int64_t> rebuilt_at_;
  std::vector<SubIds> served_;
  std::optional<std::uint32_t> served_generation_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  bool no_instance_ = false;  // the last resolution found the object but not the instance
};

}  // namespace tavro
