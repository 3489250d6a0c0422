// Port and node queries and writes, answered by the driver's "fcph" service.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diag.h"
#include "base/text.h"
#include "objects/driver_request.h"
#include "objects/handlers.h"
#include "objects/instance_text.h"
#include "objects/value_format.h"
#include "objects/write_value.h"

namespace tavro {
namespace {

constexpr std::size_t kArgument = fcph::kArgs;
constexpr std::uint32_t kQueryTrace = 0x10000;

// Where the instance components go in the message. Components are counted
// from 0; a WWN is 16 hexadecimal digits, an index a decimal number.
enum class Arguments {
  kNone,
  kWwn,                // 80: WWN of component 0
  kIndex,              // 80: index of component 0
  kIndexAndWwn,        // 80: index of component 1; 84: WWN of component 0
  kSecondWwn,          // 80: WWN of component 1
  kSecondWwnAndIndex,  // 80: WWN of component 1; 88: index of component 2
  kSecondWwnAndWwn,    // 80: WWN of component 1; 88: WWN of component 2
};

struct FcphQuery {
  const char* oid;
  std::uint32_t message;
  Arguments arguments;
  const char* trace;  // printed under Debug bit 0x10000 before the send
};

constexpr FcphQuery fcph_queries[] = {
    {"3.5.1.3", FCPH_GET_PORT_SPEED, Arguments::kWwn, nullptr},
    {"3.5.1.5", FCPH_GET_PORT_STATE, Arguments::kWwn, nullptr},
    {"3.5.1.7", FCPH_GET_PORT_VENDOR, Arguments::kWwn, nullptr},
    {"3.5.1.8", FCPH_GET_PORT_REVISION, Arguments::kWwn, nullptr},
    {"3.5.1.9", FCPH_GET_PORT_SERIAL_NUMBER, Arguments::kWwn, nullptr},
    {"3.5.1.10", FCPH_GET_PORT_DESCRIPTION, Arguments::kWwn, nullptr},
    {"3.5.1.11", FCPH_GET_PORT_VERSION, Arguments::kWwn, nullptr},
    {"3.6.1.2", FCPH_GET_PHYS_TYPE, Arguments::kWwn, nullptr},
    {"3.6.1.3", FCPH_GET_LINK_STATE, Arguments::kWwn, nullptr},
    {"3.6.1.4", FCPH_GET_CONNECTOR_TYPE, Arguments::kWwn, nullptr},
    {"3.6.1.5", FCPH_GET_LINK_TRANSITIONS, Arguments::kWwn, nullptr},
    {"3.7.1.1", FCPH_GET_PORT_TOPOLOGY, Arguments::kWwn, nullptr},
    {"3.7.1.3", FCPH_GET_PORT_USR_TOPOLOGY, Arguments::kWwn, nullptr},
    {"3.7.1.4", FCPH_GET_FACTORY_PORT_WWN, Arguments::kWwn, nullptr},
    {"3.7.1.7", FCPH_GET_FC_ADDRESS, Arguments::kWwn, nullptr},
    {"3.7.1.13", FCPH_GET_SUPPORTED_CLASSES, Arguments::kWwn, nullptr},
    {"3.7.1.15", FCPH_GET_TX_SEQS, Arguments::kWwn, nullptr},
    {"3.7.1.16", FCPH_GET_RX_SEQS, Arguments::kWwn, nullptr},
    {"3.7.1.17", FCPH_GET_TX_BYTES, Arguments::kWwn, nullptr},
    {"3.7.1.18", FCPH_GET_RX_BYTES, Arguments::kWwn, nullptr},
    {"3.7.1.19", FCPH_GET_TX_ERRORS, Arguments::kWwn, nullptr},
    {"3.7.1.20", FCPH_GET_RX_ERRORS, Arguments::kWwn, nullptr},
    {"4.1.0", FCPH_GET_LOCAL_NODES_COUNT, Arguments::kNone, nullptr},
    {"4.2.1.2", FCPH_GET_NODE_WWN, Arguments::kIndex, nullptr},
    {"4.3.1.2", FCPH_GET_NODE_PORT_CT, Arguments::kWwn, "FCPH_GET_NODE_PORT_CT_REQ msg called\n"},
    {"4.3.1.3", FCPH_GET_REMOTE_NODE_CT, Arguments::kWwn,
     "FCPH_GET_REMOTE_NODE_CT_REQ msg called\n"},
    {"4.3.1.9", FCPH_GET_SEND_OPS, Arguments::kWwn, nullptr},
    {"4.3.1.10", FCPH_GET_RCV_OPS, Arguments::kWwn, nullptr},
    {"4.3.1.11", FCPH_GET_SEND_BYTES, Arguments::kWwn, nullptr},
    {"4.3.1.12", FCPH_GET_RCV_BYTES, Arguments::kWwn, nullptr},
    {"4.3.1.13", FCPH_GET_SEND_ERRORS, Arguments::kWwn, nullptr},
    {"4.3.1.14", FCPH_GET_RCV_ERRORS, Arguments::kWwn, nullptr},
    {"4.3.1.15", FCPH_GET_SEND_DISCARD, Arguments::kWwn, nullptr},
    {"4.3.1.16", FCPH_GET_RCV_DISCARD, Arguments::kWwn, nullptr},
    {"4.6.1.2", FCPH_GET_PORTWWN, Arguments::kIndexAndWwn, nullptr},
    {"4.7.1.2", FCPH_GET_REMOTE_NODE_WWN, Arguments::kIndexAndWwn,
     "FCPH_GET_REMOTE_NODE_WWN_REQ msg called\n"},
    {"4.8.1.1", FCPH_GET_REMOTE_NODE_PC, Arguments::kSecondWwn,
     "FCPH_GET_REMOTE_NODE_PC_REQ msg called\n"},
    {"4.8.1.2", FCPH_GET_REMOTE_NODE_TYPE, Arguments::kSecondWwn,
     "FCPH_GET_REMOTE_NODE_TYPE_REQ msg called\n"},
    {"4.8.1.3", FCPH_GET_REMOTE_NODE_CLASS, Arguments::kSecondWwn,
     "FCPH_GET_REMOTE_NODE_CLASS_REQ msg called\n"},
    {"4.11.1.2", FCPH_GET_REMOTE_NODE_PORTWWN, Arguments::kSecondWwnAndIndex,
     "FCPH_GET_REMOTE_NODE_PORTWWN_REQ msg called\n"},
    {"4.12.1.1", FCPH_GET_REMOTE_NODE_FCADDR, Arguments::kSecondWwnAndWwn,
     "FCPH_GET_REMOTE_NODE_FCADDR_REQ msg called\n"},
    {nullptr, 0, Arguments::kNone, nullptr},
};

// Writes: 80 (84 for the node WWN) holds the WWN of component 0, and the
// value goes to 88 (92), as a decimal number or as a WWN.
struct FcphWrite {
  const char* oid;
  std::uint32_t message;
  std::size_t wwn_offset;
  std::size_t value_offset;
  bool value_is_wwn;
};

constexpr FcphWrite fcph_writes[] = {
    {"3.5.1.5", FCPH_SET_PORT_STATE, 80, 88, false},
    {"3.7.1.2", FCPH_SET_FC_PORT_WWN, 80, 88, true},
    {"3.7.1.3", FCPH_SET_PORT_USR_TOPOLOGY, 80, 88, false},
    {"4.3.1.1", FCPH_SET_NODE_WWN, 84, 92, true},
    {nullptr, 0, 0, 0, false},
};

template <typename Row>
const Row* find_by_oid(const Row* table, const char* oid) {
  for (const Row* row = table; row->oid != nullptr; ++row) {
    if (std::strcmp(row->oid, oid) == 0) return row;
  }
  return nullptr;
}

void put_index(std::uint8_t* data, std::size_t offset, const InstanceText& instance, int k) {
  write_u32(data, offset,
            static_cast<std::uint32_t>(std::strtoul(instance.component(k), nullptr, 10)));
}

void fill_arguments(std::uint8_t* data, Arguments arguments, const InstanceText& instance) {
  switch (arguments) {
    case Arguments::kNone:
      break;
    case Arguments::kWwn:
      put_wwn_text(data, kArgument, instance.component(0));
      break;
    case Arguments::kIndex:
      put_index(data, kArgument, instance, 0);
      break;
    case Arguments::kIndexAndWwn:
      put_index(data, kArgument, instance, 1);
      put_wwn_text(data, kArgument + 4, instance.component(0));
      break;
    case Arguments::kSecondWwn:
      put_wwn_text(data, kArgument, instance.component(1));
      break;
    case Arguments::kSecondWwnAndIndex:
      put_wwn_text(data, kArgument, instance.component(1));
      put_index(data, kArgument + 8, instance, 2);
      break;
    case Arguments::kSecondWwnAndWwn:
      put_wwn_text(data, kArgument, instance.component(1));
      put_wwn_text(data, kArgument + 8, instance.component(2));
      break;
  }
}

}  // namespace

int qdn_fcph_query(ObjectCall& call, const oid_entry& row) {
  const FcphQuery* query = find_by_oid(fcph_queries, row.oid);
  if (query == nullptr) return reply_not_supported(call, call.text);
  InstanceText instance(call.text);
  if (query->trace != nullptr && call.services.diag.on(kQueryTrace)) {
    call.services.diag.print("%s", query->trace);
  }
  Outgoing out{kFcphDestination, query->message, fcph::kSize};
  return ask_driver(call, out, [&](std::uint8_t* data) {
    write_u32(data, fcph::kNumber, query->message);
    fill_arguments(data, query->arguments, instance);
    return true;
  });
}

bool driver_knows_no(ObjectCall& call, std::uint32_t query, const char* wwn) {
  Outgoing out{kFcphDestination, query, fcph::kSize};
  call.services.channel.transact(out, call.text, call.cap, [&](std::uint8_t* data) {
    write_u32(data, fcph::kNumber, query);
    put_wwn_text(data, kArgument, wwn);
    return true;
  });
  char unknown[kMessageSize + 1];
  status_error_text(response_number(query), kStatusUnknown, unknown, sizeof unknown);
  return std::strcmp(call.text, unknown) == 0;
}

// The port WWN of the instance, unless the driver says there is no such port.
int qdn_port_wwn(ObjectCall& call, const oid_entry&) {
  InstanceText instance(call.text);
  if (!driver_knows_no(call, FCPH_GET_PORT_STATE, instance.component(0))) {
    std::uint8_t wwn[8];
    hex_to_wwn(instance.component(0), wwn);
    format_value(call.text, call.cap, wwn, sizeof wwn, 8, kValueBytes);
  }
  return object_reply(call, call.text);
}

int qdn_fcph_set(ObjectCall& call, const oid_entry& row) {
  const FcphWrite* write = find_by_oid(fcph_writes, row.oid);
  if (write == nullptr) return reply_not_supported(call, call.text);
  InstanceText instance(call.text);
  std::uint32_t number = 0;
  bool fits = write->value_is_wwn ? is_wwn_text(instance.value())
                                  : parse_field32(instance.value(), &number);
  if (!fits || !instance_wwns_ok(instance, row.index_kinds)) {
    return reply_invalid_value(call, call.text);
  }
  Outgoing out{kFcphDestination, write->message, fcph::kSize};
  return ask_driver(call, out, [&](std::uint8_t* data) {
    write_u32(data, fcph::kNumber, write->message);
    put_wwn_text(data, write->wwn_offset, instance.component(0));
    if (write->value_is_wwn) {
      put_wwn_text(data, write->value_offset, instance.value());
    } else {
      write_u32(data, write->value_offset, number);
    }
    return true;
  });
}

}  // namespace tavro
