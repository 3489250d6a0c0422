// stdagent's handler families: the adapter count, port queries to the
// driver, adapter-table values, instance echoes, the error total, constants
// and the objects that are not served.
#include "agents/stdagent/std_handlers.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "objects/driver_request.h"
#include "objects/handlers.h"
#include "objects/instance_text.h"
#include "platform/snmp_extension.h"

namespace tavro {
namespace {

constexpr int kUnitDigits = 32;

struct PortQuery {
  const char* oid;
  std::uint32_t message;
};

constexpr PortQuery port_queries[] = {
    {"1.10.1.3", FCPH_GET_PORT_TOPOLOGY},
    {"1.10.1.6", FCPH_GET_PORT_STATE},
    {"1.10.1.8", FCPH_GET_CONNECTOR_TYPE},
    {"1.10.1.9", FCPH_GET_PHYS_TYPE},
    {"1.10.1.11", FCPH_GET_FC_ADDRESS},
    {"1.10.1.12", FCPH_GET_PORT_SERIAL_NUMBER},
    {"1.10.1.13", FCPH_GET_PORT_REVISION},
    {"1.10.1.15", FCPH_GET_PORT_SPEED},
    {"4.5.1.4", FCPH_GET_TX_SEQS},
    {"4.5.1.5", FCPH_GET_RX_SEQS},
    {"4.5.1.6", FCPH_GET_TX_BYTES},
    {"4.5.1.7", FCPH_GET_RX_BYTES},
    {nullptr, 0},
};

struct Constant {
  const char* oid;
  const char* text;
};

constexpr Constant constants[] = {
    {"1.6.1.3", "07"},     {"1.6.1.4", "01"},   {"1.10.1.4", "0008"},
    {"1.10.1.5", "0008"},  {"1.10.1.7", "01"},  {"1.10.1.14", "Quellstone Corporation"},
    {"1.10.1.16", "02"},   {"1.10.1.18", "00"}, {"1.10.1.20", "0007"},
    {"1.10.1.21", "0007"}, {"1.10.1.23", "01"}, {"3.0", "0300"},
    {nullptr, nullptr},
};

template <typename Row>
const Row* find_row(const Row* table, const char* oid) {
  for (const Row* row = table; row->oid != nullptr; ++row) {
    if (std::strcmp(row->oid, oid) == 0) return row;
  }
  return nullptr;
}

const AdapterTable& table_of(const ObjectCall& call) {
  return *static_cast<const AdapterTable*>(call.context);
}

// The entry the instance's unit names; null (the call answered noSuchName)
// when it names no adapter of the table.
const AdapterEntry* select_adapter(ObjectCall& call) {
  const AdapterTable& table = table_of(call);
  int n = unit_number(call.text);
  if (n >= 1 && n <= table.count && n <= kMaxAdapters) return &table.names[n - 1];
  object_reply(call, "");
  return nullptr;
}

// The WWN of the port the instance names (its unit, then port 1, 2, ...);
// empty (the call answered noSuchName) when the adapter has no such port.
std::string select_port(ObjectCall& call, const AdapterEntry& adapter) {
  InstanceText instance(call.text);
  std::vector<std::string> ports = port_wwns(adapter);
  if (ports.empty() && adapter.node_wwn[0] != '\0') ports.emplace_back(adapter.node_wwn);
  char* end = nullptr;
  unsigned long n = std::strtoul(instance.component(1), &end, 10);
  if (*end == '\0' && n >= 1 && n <= ports.size()) return ports[n - 1];
  object_reply(call, "");
  return "";
}

// The adapter and the port the instance names; null (the call answered
// noSuchName) when either is missing.
const AdapterEntry* select_port_of_unit(ObjectCall& call, std::string& port) {
  const AdapterEntry* adapter = select_adapter(call);
  if (adapter != nullptr) port = select_port(call, *adapter);
  return port.empty() ? nullptr : adapter;
}

// One query for the port; the reply text lands in call.text.
void ask_port(ObjectCall& call, const std::string& wwn, std::uint32_t message) {
  Outgoing out{kFcphDestination, message, fcph::kSize};
  call.services.channel.transact(out, call.text, call.cap, [&](std::uint8_t* data) {
    write_u32(data, fcph::kNumber, message);
    put_wwn_text(data, fcph::kArgs, wwn.c_str());
    return true;
  });
}

bool is_error(const char* text) {
  return std::strncmp(text, "Error:", 6) == 0;
}

}  // namespace

int unit_number(const char* text) {
  int n = 0;
  for (int k = 0; k < kUnitDigits; ++k) {
    char c = text[k];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
    if (digit < 0) return -1;
    n = n * 16 + digit;
    if (n > 255) return -1;
  }
  return n;
}

int std_adapter_count(ObjectCall& call, const oid_entry& row) {
  return qdn_adapter_count(call, row);
}

int std_port_query(ObjectCall& call, const oid_entry& row) {
  const PortQuery* query = find_row(port_queries, row.oid);
  if (query == nullptr) return std_not_served(call, row);
  std::string port;
  if (select_port_of_unit(call, port) == nullptr) return snmp::kNoSuchName;
  ask_port(call, port, query->message);
  return object_reply(call, call.text);
}

int std_adapter_field(ObjectCall& call, const oid_entry& row) {
  // A unit's row names the adapter's own port, a port row its port.
  std::string field;
  const AdapterEntry* adapter =
      row.index_count == 2 ? select_port_of_unit(call, field) : select_adapter(call);
  if (adapter == nullptr) return snmp::kNoSuchName;
  if (row.index_count != 2) field = adapter->port_wwn;
  if (std::strcmp(row.oid, "1.10.1.22") == 0) field = adapter->node_wwn;
  if (std::strcmp(row.oid, "1.10.1.17") == 0) field = adapter->adap;
  return object_reply(call, field.c_str());
}

int std_instance_echo(ObjectCall& call, const oid_entry& row) {
  std::string port;
  if ((row.index_count == 2 ? select_port_of_unit(call, port) : select_adapter(call)) == nullptr) {
    return snmp::kNoSuchName;
  }
  InstanceText instance(call.text);
  if (std::strcmp(row.oid, "1.6.1.1") == 0) return object_reply(call, call.text);
  return object_reply(call, instance.component(std::strcmp(row.oid, "4.5.1.1") == 0 ? 0 : 1));
}

// Send errors plus receive errors, as an 8-byte counter.
int std_error_total(ObjectCall& call, const oid_entry&) {
  std::string port;
  if (select_port_of_unit(call, port) == nullptr) return snmp::kNoSuchName;
  ask_port(call, port, FCPH_GET_TX_ERRORS);
  if (is_error(call.text)) return object_reply(call, call.text);
  std::uint64_t sent = std::strtoull(call.text, nullptr, 10);
  ask_port(call, port, FCPH_GET_RX_ERRORS);
  if (is_error(call.text)) return object_reply(call, call.text);
  std::uint64_t received = std::strtoull(call.text, nullptr, 10);
  char total[24];
  std::snprintf(total, sizeof total, "%16" PRIX64, sent + received);
  return object_reply(call, total);
}

int std_constant(ObjectCall& call, const oid_entry& row) {
  const Constant* constant = find_row(constants, row.oid);
  if (constant == nullptr) return std_not_served(call, row);
  if (row.index_count > 0 && select_adapter(call) == nullptr) return snmp::kNoSuchName;
  return object_reply(call, constant->text);
}

int std_not_served(ObjectCall&, const oid_entry&) {
  return snmp::kGenErr;
}

}  // namespace tavro
