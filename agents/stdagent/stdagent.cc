#include "agents/stdagent/stdagent.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agents/frame/exports.h"
#include "agents/frame/varbind_text.h"
#include "agents/stdagent/stdmib_table.h"
#include "base/text.h"
#include "objects/oid_text.h"

namespace tavro {
namespace {

constexpr std::uint32_t kView[] = {1, 3, 6, 1, 3, 94};
constexpr const char* kPrefix = ".1.3.6.1.3.94.";
// No name's text begins so: every SET is answered noSuchName.
constexpr const char* kNoWrites = "no writable objects";
constexpr std::size_t kText = AgentFrame::kBufferSize + 1;

std::int64_t steady_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool served(const oid_entry& row) {
  return row.handler != std_not_served;
}

// Component k of a decoded instance: where it starts and its length.
const char* component(const char* instance, int k, std::size_t* length) {
  const char* p = instance;
  for (int i = 0; i < k; ++i) {
    p = std::strchr(p, '.');
    if (p == nullptr) {
      *length = 0;
      return "";
    }
    ++p;
  }
  *length = std::strcspn(p, ". ");
  return p;
}

bool numbered_row(const oid_entry& row) {
  return std::strncmp(row.oid, "1.10", 4) == 0 || std::strncmp(row.oid, "4.5.1", 5) == 0;
}

bool valid(char kind, const char* value, std::size_t length, const oid_entry& row, int count) {
  if (kind == kIndexUnit) {
    int n = length == 32 ? unit_number(value) : -1;
    return n >= 1 && n <= count;
  }
  if (kind == kIndexNumber) return numbered_row(row) && length == 1 && value[0] == '1';
  return false;
}

// The value after value for kind, written to out; false when there is none.
bool increase(char kind, const char* value, std::size_t length, const oid_entry& row, int count,
              char* out, std::size_t cap) {
  if (kind == kIndexUnit) {
    int n = length == 32 ? unit_number(value) : -1;
    if (n < 0 || n >= count) return false;
    std::snprintf(out, cap, "%032d", n + 1);
    return true;
  }
  if (kind == kIndexNumber && numbered_row(row) && length == 1 && value[0] == '0') {
    std::snprintf(out, cap, "1");
    return true;
  }
  return false;
}

void first_value(char kind, char* out, std::size_t cap) {
  std::snprintf(out, cap, kind == kIndexUnit ? "%032d" : "%d", 1);
}

// Replaces component k and everything after it with value.
void write_from(char* instance, std::size_t cap, int k, const char* value) {
  std::size_t length = 0;
  const char* at = component(instance, k, &length);
  std::size_t offset =
      *at == '\0' && k > 0 ? std::strlen(instance) : static_cast<std::size_t>(at - instance);
  if (*at == '\0' && k > 0 && offset + 1 < cap) instance[offset++] = '.';
  std::snprintf(instance + offset, cap - offset, "%s", value);
}

void append_first(char* instance, std::size_t cap, char kind) {
  char value[40];
  first_value(kind, value, sizeof value);
  std::size_t used = std::strlen(instance);
  std::snprintf(instance + used, cap - used, ".%s", value);
}

// A unit sub-identifier above 255 sorts after every unit there is.
bool unit_beyond_bytes(const snmp_oid& name, std::uint32_t at) {
  for (std::uint32_t k = at; k < at + 16 && k < name.idLength; ++k) {
    if (name.ids[k] > 255) return true;
  }
  return false;
}

const oid_entry* read_row(const char* suffix) {
  for (const oid_entry* row = stdmib_get_table; row->oid != nullptr; ++row) {
    if (std::strcmp(row->oid, suffix) == 0) return row;
  }
  return nullptr;
}

}  // namespace

const AgentProfile kStdAgentProfile{kView,
                                    6,
                                    kPrefix,
                                    kNoWrites,
                                    "FIBA",
                                    0x46490000,
                                    stdmib_get_table,
                                    stdmib_set_table,
                                    stdagent_responses};

bool next_instance(char* instance, std::size_t cap, const oid_entry& row, int count) {
  const int kinds = row.index_count < 8 ? row.index_count : 8;
  char value[40];
  for (int i = 0; i < kinds; ++i) {
    char kind = row.index_kinds[i];
    std::size_t length = 0;
    const char* v = component(instance, i, &length);
    bool last = i == kinds - 1;
    if (valid(kind, v, length, row, count)) {
      if (!last) continue;
      if (!increase(kind, v, length, row, count, value, sizeof value)) return false;
      write_from(instance, cap, i, value);
      return true;
    }
    if (increase(kind, v, length, row, count, value, sizeof value)) {
      write_from(instance, cap, i, value);
      if (!last) append_first(instance, cap, row.index_kinds[i + 1]);
      return true;
    }
    if (i == 0) return false;
    const char* unit = component(instance, 0, &length);
    if (!increase(row.index_kinds[0], unit, length, row, count, value, sizeof value)) return false;
    write_from(instance, cap, 0, value);
    append_first(instance, cap, row.index_kinds[1]);
    return true;
  }
  return false;
}

const oid_entry* walk_fallback(const char* suffix) {
  int have = oid_component_count(suffix);
  if (have == 0) return &group_table[0];
  for (const oid_entry* row = group_table + kGroupEntries; row->oid != nullptr; ++row) {
    if (oid_compare(suffix, row->oid, row->components) != 0) continue;
    if (have > row->components && row->param < kGroupEntries) return &group_table[row->param];
    return row;
  }
  return nullptr;
}

StdAgent::StdAgent(ChannelSettings channel, SecondsClock clock)
    : AgentFrame(kStdAgentProfile, channel), clock_(clock ? std::move(clock) : steady_seconds) {
  set_handler_context(&adapters_);
}

// One private object asked through its handler; false on an error reply.
bool StdAgent::ask(const char* oid, const char* instance, char* reply) {
  const oid_entry* row = find_oid_row(oid_get_table, oid);
  if (row == nullptr) return false;
  std::snprintf(reply, kText, "%s", instance);
  return call_handler(*row, reply) == snmp::kNoError;
}

void StdAgent::build_adapter_tbl() {
  if (adapters_.count == 0) rebuilt_at_.reset();
  std::int64_t now = clock_();
  if (rebuilt_at_ && now - *rebuilt_at_ < kRebuildSeconds) return;
  rebuilt_at_ = now;
  char reply[kText];
  if (!ask("3.1.0", "", reply)) return;
  long count = std::strtol(reply, nullptr, 10);
  adapters_.count = count < 0 ? 0 : count > kMaxAdapters ? kMaxAdapters : static_cast<int>(count);
  debug_log().line("build_adapter_tbl() adapters.count = %d\n", adapters_.count);
  for (int i = 0; i < adapters_.count; ++i) {
    AdapterEntry& entry = adapters_.names[i];
    char index[16];
    std::snprintf(index, sizeof index, "%d", i);
    if (!ask("3.2.1.2", index, reply)) continue;
    std::snprintf(entry.adap, sizeof entry.adap, "%.64s", reply);
    debug_log().line("build_adapter_tbl() adapters.names[%d].adap = %s\n", i, entry.adap);
    if (ask("3.4.1.2", entry.adap, reply)) {
      std::snprintf(entry.port_wwn, sizeof entry.port_wwn, "%.16s", reply);
    }
    debug_log().line("build_adapter_tbl() adapters.names[%d].port_wwn = %s\n", i, entry.port_wwn);
    if (ask("4.2.1.2", index, reply)) {
      std::snprintf(entry.node_wwn, sizeof entry.node_wwn, "%.16s", reply);
    }
    debug_log().line("build_adapter_tbl() adapters.names[%d].node_wwn = %s\n", i, entry.node_wwn);
  }
}

int StdAgent::move_to(snmp_varbind& binding, const char* text, const oid_entry& row) {
  int status = update_varbind_name(binding, text, row);
  return status != snmp::kNoError ? status : snmpget(binding);
}

int StdAgent::snmpgetnext(snmp_varbind& binding) {
  snmp_open();
  if (!channel().channel_open()) return snmp::kGenErr;
  const snmp_oid& name = binding.name;
  for (std::uint32_t k = 0; k < 6; ++k) {
    std::uint32_t id = k < name.idLength ? name.ids[k] : 0;
    bool ended = k >= name.idLength;
    if (ended || id < kView[k]) return walk_on(binding, &group_table[0]);
    if (id > kView[k]) return snmp::kNoSuchName;
  }
  char text[kText] = {};
  if (!name_to_text(name, text, sizeof text)) return snmp::kNoSuchName;
  const char* suffix = oid_skip(text, oid_component_count(kPrefix));
  if (*suffix == '\0') return walk_on(binding, &group_table[0]);
  const oid_entry* row = find_oid_row(stdmib_get_table, suffix);
  if (row == nullptr) {
    const oid_entry* start = walk_fallback(suffix);
    return start == nullptr ? snmp::kNoSuchName : walk_on(binding, start);
  }
  if (row->index_count == 0 || !served(*row)) return walk_on(binding, row);
  if (unit_beyond_bytes(name, 6 + static_cast<std::uint32_t>(row->components))) {
    return walk_on(binding, row);
  }
  build_adapter_tbl();
  char instance[kText];
  std::snprintf(instance, sizeof instance, "%s", oid_skip(suffix, row->components));
  decode_instance(instance, sizeof instance, row->index_kinds);
  if (!next_instance(instance, sizeof instance, *row, adapters_.count)) {
    return walk_on(binding, row);
  }
  char next[kText];
  std::snprintf(next, sizeof next, "%s%s.%s", kPrefix, row->oid, instance);
  return move_to(binding, next, *row);
}

// The first instance of the object after start. Unit rows are passed over
// while there is no adapter.
int StdAgent::walk_on(snmp_varbind& binding, const oid_entry* start) {
  for (int steps = 0; steps <= kStdGetTableRows; ++steps) {
    if (std::strcmp(start->next, kStdWalkEnd) == 0) return snmp::kNoSuchName;
    const oid_entry* row = read_row(start->next);
    if (row == nullptr) return snmp::kNoSuchName;
    if (row->index_count > 0) build_adapter_tbl();
    if (row->index_count > 0 && adapters_.count == 0) {
      start = row;
      continue;
    }
    char next[kText];
    std::snprintf(next, sizeof next, "%s%s", kPrefix, row->oid);
    for (int k = 0; k < row->index_count && k < 8; ++k) {
      std::size_t used = std::strlen(next);
      char value[40];
      first_value(row->index_kinds[k], value, sizeof value);
      std::snprintf(next + used, sizeof next - used, ".%s", value);
    }
    return move_to(binding, next, *row);
  }
  return snmp::kNoSuchName;
}

AgentFrame* make_agent() {
  return new StdAgent();
}

}  // namespace tavro
