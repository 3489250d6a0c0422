#include "agents/frame/agent_frame.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agents/frame/varbind_text.h"
#include "base/text.h"
#include "objects/oid_text.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTraceOpen = 0x80000;
constexpr std::uint32_t kTraceReply = 0x40000;
constexpr int kMaxName = 128;

const char* event_log_path() {
  const char* path = std::getenv(kAgentEventLogVariable);
  return path != nullptr && *path != '\0' ? path : nullptr;
}

bool begins_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Takes a handler's reply into the request buffer and checks it.
class FrameReply final : public ReplySink {
 public:
  FrameReply(const Diag& diag, char* buffer, std::size_t cap)
      : diag_(diag), buffer_(buffer), cap_(cap) {}
  int reply(const char* text) override {
    if (diag_.on(kTraceReply)) diag_.print("FCREPLY() %s\n", text);
    if (text != buffer_) {
      // The text may lie inside the buffer itself.
      std::size_t n = strnlen(text, cap_ - 1);
      std::memmove(buffer_, text, n);
      buffer_[n] = '\0';
    }
    replied_ = true;
    status_ = std::strncmp(buffer_, "Error:", 6) == 0 ? snmp::kGenErr : snmp::kNoError;
    return status_;
  }
  bool replied() const { return replied_; }
  int status() const { return status_; }

 private:
  const Diag& diag_;
  char* buffer_;
  std::size_t cap_;
  bool replied_ = false;
  int status_ = snmp::kNoError;
};

ChannelSettings with_profile(ChannelSettings settings, const AgentProfile& profile) {
  settings.registration_name = profile.registration_name;
  settings.tag = profile.handle_bits;
  settings.responses = profile.responses;
  // The agents' fixed Debug word carries the timing bit; their driver wait
  // stays 6 s all the same, shorter than snmpd's AgentX time-out.
  settings.timing_stretch = 1;
  return settings;
}

}  // namespace

AgentFrame::AgentFrame(const AgentProfile& profile, ChannelSettings channel)
    : profile_(profile),
      event_flags_(event_log_path() != nullptr ? 0x1F : 0),
      event_path_(event_log_path()),
      channel_(diag_, events_, nullptr, with_profile(channel, profile)) {
  diag_.set_stdout(false);
  diag_.attach_logs(&events_, nullptr);
  process_id_ =
      channel.process_id != 0 ? channel.process_id : static_cast<std::uint32_t>(::getpid());
}

AgentFrame::~AgentFrame() {
  snmp_close();
}

// ---- Exports ---------------------------------------------------------------

int AgentFrame::extension_init(void** trap_event, snmp_oid* supported_view) {
  if (trap_event != nullptr) *trap_event = nullptr;
  if (supported_view != nullptr) {
    supported_view->idLength = profile_.view_length;
    supported_view->ids = const_cast<std::uint32_t*>(profile_.view);
  }
  start_ = std::chrono::steady_clock::now();
  std::snprintf(process_text_, sizeof process_text_, "%u", process_id_);
  return 1;
}

int AgentFrame::extension_init_ex(snmp_oid*) {
  snmp_open();
  return 0;
}

int AgentFrame::extension_query(std::uint8_t request_type, snmp_varbind_list* bindings,
                                std::int32_t* error_status, std::int32_t* error_index) {
  log_.line("SnmpExtensionQuery: requestType = %d", request_type);
  if (request_type != snmp::kGet && request_type != snmp::kGetNext && request_type != snmp::kSet) {
    return 0;
  }
  *error_status = snmp::kNoError;
  const std::uint32_t count = bindings != nullptr ? bindings->len : 0;
  bool refused = false;
  if (request_type == snmp::kSet) {
    log_.line("SnmpExtensionQuery: MIB_ACTION_SET\n");
    // Several writes in one request are refused before any is applied.
    if (count > 1) {
      *error_status = snmp::kGenErr;
      refused = true;
    }
  }
  for (std::uint32_t k = 0; !refused && k < count; ++k) {
    snmp_varbind& binding = bindings->list[k];
    int status = resolve_varbind(binding, request_type);
    if (request_type == snmp::kGetNext && status == snmp::kNoSuchName) {
      status = answer_past_view(binding);
    }
    if (status != snmp::kNoError) {
      *error_status = status;
      *error_index = static_cast<std::int32_t>(k + 1);
      break;
    }
  }
  log_.line("leaving SnmpExtensionQuery: *errorStatus = %d, errorIndex = %d", *error_status,
            *error_index);
  return 1;
}

// The view with its last sub-identifier raised by one: the walk goes on in
// the next view.
int AgentFrame::answer_past_view(snmp_varbind& binding) {
  std::uint32_t ids[kMaxName];
  std::uint32_t n = profile_.view_length;
  std::memcpy(ids, profile_.view, n * sizeof ids[0]);
  ++ids[n - 1];
  snmp_oid past{n, ids};
  SnmpUtilOidFree(&binding.name);
  return SnmpUtilOidCpy(&binding.name, &past) != 0 ? snmp::kNoError : snmp::kGenErr;
}

// ---- Resolution ------------------------------------------------------------

void AgentFrame::trace_name(const char* title, const snmp_oid& name) {
  log_.line("%s: VarBind->name.idLength = %d", title, static_cast<int>(name.idLength));
  char ids[DebugLog::kLineSize];
  std::size_t used = 0;
  ids[0] = '\0';
  for (std::uint32_t k = 0; k < name.idLength && used + 12 < sizeof ids; ++k) {
    used += static_cast<std::size_t>(
        std::snprintf(ids + used, sizeof ids - used, k == 0 ? "%u" : ".%u", name.ids[k]));
  }
  log_.line("%s: VarBind->name.ids = %s", title, ids);
}

int AgentFrame::resolve_varbind(snmp_varbind& binding, std::uint8_t request_type) {
  trace_name("ResolveVarBind", binding.name);
  switch (request_type) {
    case snmp::kGet:
      return snmpget(binding);
    case snmp::kGetNext:
      return snmpgetnext(binding);
    case snmp::kSet:
      return snmpset(binding);
    default:
      return snmp::kGenErr;
  }
}

int AgentFrame::snmpget(snmp_varbind& binding) {
  return resolve_in(binding, profile_.prefix, profile_.get_table, false);
}

int AgentFrame::snmpset(snmp_varbind& binding) {
  return resolve_in(binding, profile_.set_prefix, profile_.set_table, true);
}

int AgentFrame::snmpgetnext(snmp_varbind&) {
  return snmp::kNoSuchName;
}

int AgentFrame::resolve_in(snmp_varbind& binding, const char* prefix, const oid_entry* table,
                           bool is_set) {
  snmp_open();
  if (!channel_.channel_open()) return snmp::kGenErr;
  char text[kBufferSize + 1] = {};
  if (!name_to_text(binding.name, text, sizeof text)) return snmp::kNoSuchName;
  if (is_set) {
    std::size_t used = std::strlen(text);
    std::snprintf(text + used, sizeof text - used, " ");
    value_to_text(binding.value, text, sizeof text);
  }
  if (!begins_with(text, prefix)) return snmp::kNoSuchName;
  const char* suffix = oid_skip(text, oid_component_count(prefix));
  const oid_entry* row = find_oid_row(table, suffix);
  if (row == nullptr) return snmp::kNoSuchName;
  if (row->index_count > 0) before_instance_row();
  char buffer[kBufferSize + 1] = {};
  std::snprintf(buffer, sizeof buffer, "%s", oid_skip(suffix, row->components));
  if (!decode_instance(buffer, sizeof buffer, row->index_kinds)) return snmp::kNoSuchName;
  if (!is_set) log_.line("snmpget() 3 p = %s\n", buffer);
  int status = call_handler(*row, buffer);
  if (status != snmp::kNoError) return status;
  if (!is_set) log_.line("snmpget() 4 p = %s\n", buffer);
  int typed = set_value_from_text(binding.value, buffer, row->type);
  // A write that was applied stays reported as applied.
  return is_set ? snmp::kNoError : typed;
}

int AgentFrame::call_handler(const oid_entry& row, char* text) {
  FrameReply sink(diag_, text, kBufferSize + 1);
  ObjectCall call{services_, sink, kNoConnection, text, kBufferSize + 1, handler_context_};
  int result = row.handler(call, row);
  if (!sink.replied()) return result != 0 ? snmp::kGenErr : snmp::kNoError;
  if (sink.status() != snmp::kNoError) return sink.status();
  return result == 0 || result == snmp::kNoSuchName ? result : snmp::kGenErr;
}

int AgentFrame::update_varbind_name(snmp_varbind& binding, const char* text, const oid_entry& row) {
  std::uint32_t ids[kMaxName];
  int n = text_to_name(text, profile_.prefix, row, ids, kMaxName);
  int status = snmp::kGenErr;
  if (n > 0) {
    snmp_oid name{static_cast<std::uint32_t>(n), ids};
    snmp_oid copy{};
    if (SnmpUtilOidCpy(&copy, &name) != 0) {
      SnmpUtilOidFree(&binding.name);
      binding.name = copy;
      status = snmp::kNoError;
    }
  }
  trace_name("update_varbind_name", binding.name);
  return status;
}

// ---- Channel ---------------------------------------------------------------

void AgentFrame::open_trace(const char* format, ...) {
  if (!diag_.on(kTraceOpen)) return;
  char line[DebugLog::kLineSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  log_.write(line);
}

void AgentFrame::snmp_open() {
  if (channel_.channel_open() || channel_.driver_state() != kDriverReady) return;
  if (!events_.is_open()) events_.open();
  if (channel_.thread_init() != 0) {
    open_trace("snmp_open() Initialization failed.\n");
    after_open();
    return;
  }
  if (!initialised_) {
    if (channel_.safe_msg_init() == 0) {
      open_trace("snmp_open() Initialization failed.\n");
      after_open();
      return;
    }
    initialised_ = true;
    open_trace("snmp_open() Initialization completed.\n");
  }
  while (!channel_.channel_open()) {
    // The process part keeps to the low 16 bits: Linux process numbers grow
    // past them, and the upper 16 bits name the agent.
    std::uint32_t handle =
        profile_.handle_bits | ((process_id_ + static_cast<std::uint32_t>(attempts_)) & 0xFFFFu);
    ++attempts_;
    open_trace("snmp_open() handle=0x%0*" PRIXPTR " name=%s", static_cast<int>(2 * sizeof(void*)),
               static_cast<std::uintptr_t>(handle), profile_.registration_name);
    if (channel_.register_handle(handle)) break;
    open_trace("snmp_open() Registration failed: error (%d)\n", 1);
    if (attempts_ > 5) break;
  }
  if (channel_.channel_open()) open_trace("snmp_open() Driver open completed.\n");
  after_open();
}

void AgentFrame::snmp_close() {
  open_trace("snmp_close\n");
  if (!channel_.mark_closed()) return;
  open_trace("snmp_close: calling q_deregister_msg_handler\n");
  channel_.safe_deregister_msg_handler(channel_.reg_handle());
  open_trace("snmp_close: calling q_msg_done\n");
  channel_.safe_msg_done();
  open_trace("snmp_close: calling snmp_close_bh\n");
  open_trace("snmp_close: done.\n");
}

}  // namespace tavro
