// The frame every SNMP extension agent is built on: its exports' work, its
// own driver channel, and the resolution of variable bindings against an
// object table through the object handlers.
//
// One AgentFrame per agent library, made by SnmpExtensionInit and deleted
// when the library is unloaded. Queries come one at a time.
#pragma once

#include <chrono>
#include <cstdint>

#include "agents/frame/debug_log.h"
#include "base/diag.h"
#include "channel/channel.h"
#include "eventlog/event_log.h"
#include "objects/object_call.h"
#include "objects/oid_table.h"
#include "platform/snmp_extension.h"

namespace tavro {

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
};

inline constexpr std::int32_t kAgentDebug = 0x300F0000;
inline constexpr const char* kAgentEventLogVariable = "TAVRO_SNMP_EVENT_LOG";

class AgentFrame {
 public:
  static constexpr std::size_t kBufferSize = 4096;

  explicit AgentFrame(const AgentProfile& profile, ChannelSettings channel = {});
  virtual ~AgentFrame();
  AgentFrame(const AgentFrame&) = delete;
  AgentFrame& operator=(const AgentFrame&) = delete;

  // The exports.
  int extension_init(void** trap_event, snmp_oid* supported_view);
  int extension_init_ex(snmp_oid* supported_view);
  int extension_query(std::uint8_t request_type, snmp_varbind_list* bindings,
                      std::int32_t* error_status, std::int32_t* error_index);

  int resolve_varbind(snmp_varbind& binding, std::uint8_t request_type);
  int snmpget(snmp_varbind& binding);
  int snmpset(snmp_varbind& binding);
  // Without a walk every binding lies past the view (2).
  virtual int snmpgetnext(snmp_varbind& binding);
  int update_varbind_name(snmp_varbind& binding, const char* text, const oid_entry& row);

  void snmp_open();
  void snmp_close();

  Channel& channel() { return channel_; }
  ObjectServices& services() { return services_; }
  DebugLog& debug_log() { return log_; }
  const AgentProfile& profile() const { return profile_; }

 protected:
  // Runs after every open attempt (stdagent builds its adapter table).
  virtual void after_open() {}
  // Runs before a row with instance components is served.
  virtual void before_instance_row() {}
  // Calls row's handler on text (the decoded instance, kBufferSize bytes)
  // and returns the reply check's status.
  int call_handler(const oid_entry& row, char* text);
  // Handed to every handler as its call's context.
  void set_handler_context(const void* context) { handler_context_ = context; }

 private:
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
  const void* handler_context_ = nullptr;
};

}  // namespace tavro
