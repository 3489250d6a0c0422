#include "agents/frame/agent_frame.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

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

std::int64_t steady_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool is_prefix(const SubIds& ids, const std::uint32_t* name, std::size_t n) {
  return ids.size() <= n && std::equal(ids.begin(), ids.end(), name);
}

// 8 bytes a manager wrote as 16 hexadecimal digits, as the handlers read WWNs.
void hex_text(const snmp_octets& s, char* out, std::size_t cap) {
  std::size_t used = std::strlen(out);
  for (std::uint32_t k = 0; k < s.length && used + 3 <= cap; ++k, used += 2) {
    std::snprintf(out + used, cap - used, "%02X", s.stream[k]);
  }
}

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

AgentFrame::AgentFrame(const AgentProfile& profile, ChannelSettings channel, SecondsClock clock)
    : profile_(profile),
      event_flags_(event_log_path() != nullptr ? 0x1F : 0),
      event_path_(event_log_path()),
      channel_(diag_, events_, nullptr, with_profile(channel, profile)),
      clock_(clock ? std::move(clock) : steady_seconds) {
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
  channel_.set_deadline(deadline_);
  for (std::uint32_t k = 0; !refused && k < count; ++k) {
    snmp_varbind& binding = bindings->list[k];
    no_instance_ = false;
    int status = resolve_varbind(binding, request_type);
    if (request_type == snmp::kGetNext && status == snmp::kNoSuchName) {
      status = answer_past_view(binding);
    } else if (status == snmp::kNoSuchName && no_instance_) {
      free_value(binding.value);
      binding.value.asnType = snmp::kNoSuchInstance;
    }
    if (status != snmp::kNoError) {
      *error_status = status;
      *error_index = static_cast<std::int32_t>(k + 1);
      break;
    }
  }
  deadline_.reset();
  channel_.set_deadline(deadline_);
  log_.line("leaving SnmpExtensionQuery: *errorStatus = %d, errorIndex = %d", *error_status,
            *error_index);
  return 1;
}

void AgentFrame::set_budget_ms(std::uint32_t milliseconds) {
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

bool AgentFrame::time_spent() const {
  return deadline_ && std::chrono::steady_clock::now() >= *deadline_;
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
  if (!log_.on()) return;
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

// A name whose read fails is passed over: the walk goes on, and a GET of
// that name still answers its error. With no channel the walk passes
// beyond the view.
int AgentFrame::snmpgetnext(snmp_varbind& binding) {
  snmp_open();
  if (!channel_.channel_open()) return snmp::kNoSuchName;
  const std::vector<SubIds>& names = served_names();
  SubIds asked(binding.name.ids, binding.name.ids + binding.name.idLength);
  auto first = std::upper_bound(names.begin(), names.end(), asked);
  for (auto it = first; it != names.end(); ++it) {
    if (it != first && time_spent()) return snmp::kGenErr;
    snmp_oid name{static_cast<std::uint32_t>(it->size()), const_cast<std::uint32_t*>(it->data())};
    snmp_oid copy{};
    if (SnmpUtilOidCpy(&copy, &name) == 0) return snmp::kGenErr;
    SnmpUtilOidFree(&binding.name);
    binding.name = copy;
    if (snmpget(binding) == snmp::kNoError) return snmp::kNoError;
  }
  return snmp::kNoSuchName;
}

bool AgentFrame::unwalked(const oid_entry& row) const {
  for (const char* const* p = profile_.unwalked; p != nullptr && *p != nullptr; ++p) {
    if (std::strcmp(*p, row.oid) == 0) return true;
  }
  return false;
}

const std::vector<SubIds>& AgentFrame::served_names() {
  build_adapter_tbl();
  if (served_generation_ == adapters_.generation) return served_;
  served_.clear();
  for (const oid_entry* row = profile_.get_table; row->oid != nullptr; ++row) {
    std::vector<SubIds> instances;
    if (row->handler == profile_.unserved || unwalked(*row) ||
        !list_instances(kinds_of(row->index_kinds), adapters_, instances)) {
      continue;
    }
    SubIds base(profile_.view, profile_.view + profile_.view_length);
    for (const char* p = row->oid; *p != '\0'; p += *p == '.' ? 1 : 0) {
      char* end = nullptr;
      base.push_back(static_cast<std::uint32_t>(std::strtoul(p, &end, 10)));
      p = end;
    }
    for (const SubIds& instance : instances) {
      served_.push_back(base);
      served_.back().insert(served_.back().end(), instance.begin(), instance.end());
    }
  }
  std::sort(served_.begin(), served_.end());
  served_.erase(std::unique(served_.begin(), served_.end()), served_.end());
  served_generation_ = adapters_.generation;
  return served_;
}

// The instance must have the shape of the row's index, and name an adapter,
// port or node that discovery knows (when it has heard of them all).
bool AgentFrame::instance_known(const oid_entry& row, const std::uint32_t* ids, std::size_t n) {
  std::string kinds = kinds_of(row.index_kinds);
  if (!instance_shape_fits(kinds, ids, n)) return false;
  if (kinds.empty()) return true;
  build_adapter_tbl();
  if (!adapters_.known || listed(kinds, ids, n)) return true;
  if (rebuilt_at_ && clock_() - *rebuilt_at_ < kRecheckSeconds) return false;
  build_adapter_tbl(true);
  return !adapters_.known || listed(kinds, ids, n);
}

// Kinds discovery cannot list in full are checked by their first one.
bool AgentFrame::listed(const std::string& kinds, const std::uint32_t* ids, std::size_t n) const {
  std::vector<SubIds> instances;
  if (list_instances(kinds, adapters_, instances)) {
    return std::any_of(instances.begin(), instances.end(),
                       [&](const SubIds& i) { return i.size() == n && is_prefix(i, ids, n); });
  }
  if (kinds[0] == 'I' || !list_instances(kinds.substr(0, 1), adapters_, instances)) return true;
  return std::any_of(instances.begin(), instances.end(),
                     [&](const SubIds& i) { return is_prefix(i, ids, n); });
}

// A write must carry the SNMP type its row reads as, a length the row holds
// and, for an INTEGER, a value in the row's range.
int AgentFrame::write_fits(const oid_entry& row, const snmp_value& value) const {
  const std::uint32_t count = row.count > 0 ? static_cast<std::uint32_t>(row.count) : 0;
  switch (row.type & 0x0F) {
    case 1:
    case 6: {
      if (value.asnType != snmp::kInteger) return snmp::kWrongType;
      std::int64_t low = std::numeric_limits<std::int32_t>::min();
      std::int64_t high = std::numeric_limits<std::int32_t>::max();
      if ((row.type & 0x0F) == 6) low = 0, high = 0xFFFF;
      for (const WriteRange* r = profile_.write_ranges; r != nullptr && r->oid != nullptr; ++r) {
        if (std::strcmp(r->oid, row.oid) == 0) low = r->low, high = r->high;
      }
      bool fits = value.asnValue.number >= low && value.asnValue.number <= high;
      return fits ? snmp::kNoError : snmp::kWrongValue;
    }
    case 2:
    case 7:
      return value.asnType == snmp::kGauge ? snmp::kNoError : snmp::kWrongType;
    case 3:
    case 5:
    case 8: {
      if (value.asnType != snmp::kOctetString) return snmp::kWrongType;
      std::uint32_t length = value.asnValue.string.length;
      return length == count || length == 2 * count ? snmp::kNoError : snmp::kWrongLength;
    }
    case 4:
      if (value.asnType != snmp::kOctetString) return snmp::kWrongType;
      return value.asnValue.string.length <= count ? snmp::kNoError : snmp::kWrongLength;
    default:
      return snmp::kNoError;
  }
}

int AgentFrame::resolve_in(snmp_varbind& binding, const char* prefix, const oid_entry* table,
                           bool is_set) {
  snmp_open();
  if (!channel_.channel_open()) return snmp::kGenErr;
  char text[kBufferSize + 1] = {};
  if (!name_to_text(binding.name, text, sizeof text)) return snmp::kNoSuchName;
  if (!begins_with(text, prefix)) return snmp::kNoSuchName;
  const char* suffix = oid_skip(text, oid_component_count(prefix));
  const oid_entry* row = find_oid_row(table, suffix);
  if (row == nullptr) return snmp::kNoSuchName;
  std::size_t at = profile_.view_length + static_cast<std::size_t>(row->components);
  std::size_t rest = binding.name.idLength > at ? binding.name.idLength - at : 0;
  if (!instance_known(*row, binding.name.ids + (rest > 0 ? at : 0), rest)) {
    no_instance_ = true;
    return snmp::kNoSuchName;
  }
  char buffer[kBufferSize + 1] = {};
  std::snprintf(buffer, sizeof buffer, "%s", oid_skip(suffix, row->components));
  if (is_set) {
    if (int fits = write_fits(*row, binding.value); fits != snmp::kNoError) return fits;
    std::size_t used = std::strlen(buffer);
    std::snprintf(buffer + used, sizeof buffer - used, " ");
    // Bytes of a hexadecimal row reach its handler as their digits.
    bool bytes = (row->type & 0x0F) != 4 && binding.value.asnType == snmp::kOctetString &&
                 binding.value.asnValue.string.length == static_cast<std::uint32_t>(row->count);
    if (bytes) {
      hex_text(binding.value.asnValue.string, buffer, sizeof buffer);
    } else {
      value_to_text(binding.value, buffer, sizeof buffer);
    }
  }
  decode_instance(buffer, sizeof buffer, row->index_kinds);
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
  ObjectCall call{services_, sink, kNoConnection, text, kBufferSize + 1, &adapters_};
  int result = row.handler(call, row);
  if (!sink.replied()) return result != 0 ? snmp::kGenErr : snmp::kNoError;
  if (sink.status() != snmp::kNoError) return sink.status();
  return result == 0 || result == snmp::kNoSuchName ? result : snmp::kGenErr;
}

// ---- Channel ---------------------------------------------------------------

void AgentFrame::open_trace(const char* format, ...) {
  if (!diag_.on(kTraceOpen) || !log_.on()) return;
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
  if (int error = channel_.thread_init(); error != 0) {
    open_trace("snmp_open() thread_init error %d\n", error);
    return;
  }
  if (!initialised_) {
    if (channel_.safe_msg_init() == 0) {
      open_trace("snmp_open() Initialization failed.\n");
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
  if (profile_.build_at_open) build_adapter_tbl();
}

// ---- Discovery -------------------------------------------------------------

// One private object asked through its handler; false on an error reply.
bool AgentFrame::ask(const char* oid, const char* instance, char* reply) {
  const oid_entry* row = find_oid_row(oid_get_table, oid);
  if (row == nullptr) return false;
  std::snprintf(reply, kBufferSize + 1, "%s", instance);
  return call_handler(*row, reply) == snmp::kNoError;
}

void AgentFrame::build_adapter_tbl(bool force) {
  if (adapters_.count == 0) rebuilt_at_.reset();
  std::int64_t now = clock_();
  // A table not read in full is asked again sooner.
  std::int64_t age = adapters_.known ? kRebuildSeconds : kRecheckSeconds;
  if (!force && rebuilt_at_ && now - *rebuilt_at_ < age) return;
  if (!channel_.channel_open() || time_spent()) return;
  rebuilt_at_ = now;
  ++adapters_.generation;
  adapters_.known = false;
  char reply[kBufferSize + 1];
  if (!ask("3.1.0", "", reply)) return;
  long count = std::strtol(reply, nullptr, 10);
  adapters_.count = static_cast<int>(std::clamp<long>(count, 0, kMaxAdapters));
  log_.line("build_adapter_tbl() adapters.count = %d\n", adapters_.count);
  bool complete = true;
  for (int i = 0; i < adapters_.count; ++i) {
    AdapterEntry& entry = adapters_.names[i];
    char index[16];
    std::snprintf(index, sizeof index, "%d", i);
    if (!ask("3.2.1.2", index, reply)) {
      complete = false;
      continue;
    }
    std::snprintf(entry.adap, sizeof entry.adap, "%.64s", reply);
    log_.line("build_adapter_tbl() adapters.names[%d].adap = %s\n", i, entry.adap);
    bool port = ask("3.4.1.2", entry.adap, reply);
    if (port) std::snprintf(entry.port_wwn, sizeof entry.port_wwn, "%.16s", reply);
    log_.line("build_adapter_tbl() adapters.names[%d].port_wwn = %s\n", i, entry.port_wwn);
    bool node = ask("4.2.1.2", index, reply);
    if (node) std::snprintf(entry.node_wwn, sizeof entry.node_wwn, "%.16s", reply);
    log_.line("build_adapter_tbl() adapters.names[%d].node_wwn = %s\n", i, entry.node_wwn);
    entry.port_count = entry.remote_count = 0;
    bool ports =
        !profile_.reads_every_port ||
        (node && read_wwns(entry, "4.3.1.2", "4.6.1.2", entry.ports, kMaxPorts, entry.port_count));
    bool remotes = !profile_.reads_remote_nodes ||
                   (node && read_wwns(entry, "4.3.1.3", "4.7.1.2", entry.remotes, kMaxRemoteNodes,
                                      entry.remote_count));
    complete = complete && port && node && ports && remotes;
  }
  adapters_.known = complete;
}

// The WWNs the adapter's node lists by index (its ports, its remote nodes):
// the count asked first, then each; false when one is not read.
bool AgentFrame::read_wwns(const AdapterEntry& entry, const char* count_oid, const char* wwn_oid,
                           char (*out)[17], int max, std::int32_t& n) {
  char reply[kBufferSize + 1];
  if (!ask(count_oid, entry.node_wwn, reply)) return false;
  char* end = nullptr;
  unsigned long count = std::strtoul(reply, &end, 10);
  bool complete = end != reply && count <= static_cast<unsigned long>(max);
  for (unsigned long i = 0; i < std::min<unsigned long>(count, max); ++i) {
    char instance[40];
    std::snprintf(instance, sizeof instance, "%s.%lu", entry.node_wwn, i);
    if (!ask(wwn_oid, instance, reply)) {
      complete = false;
      continue;
    }
    std::snprintf(out[n++], 17, "%.16s", reply);
  }
  return complete;
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
