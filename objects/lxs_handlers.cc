// LXS objects of the driver's "fcp" service, the node counter pairs built
// from them, and the target-support service "/pvd/fcp0.sif".
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

constexpr std::uint32_t kTargetTrace = 0x20000;
constexpr std::size_t kValueRoom = lxs::kSize - lxs::kValue;

void fill_object_header(Channel& channel, std::uint8_t* data, std::uint32_t object_id,
                        std::int32_t type, std::int32_t count) {
  write_u32(data, lxs::kObjectId, object_id);
  write_u32(data, lxs::kType, static_cast<std::uint32_t>(type));
  write_u32(data, lxs::kCount, static_cast<std::uint32_t>(count));
  write_u32(data, lxs::kRequestId, channel.next_request_id());
}

// Fills the index fields from the instance text; on failure writes the
// invalid-instance reply into the call's text.
bool fill_index(ObjectCall& call, const char* instance, std::uint8_t* data, const oid_entry& row) {
  if (row.index_count == 0) return true;
  if (fill_index_fields(instance, data, row.index_kinds, &call.services.diag) == 0) return true;
  char copy[kMessageSize + 1];
  std::snprintf(copy, sizeof copy, "%s", instance);
  std::snprintf(call.text, call.cap, "%sInvalid OID length(%s)", "Error: ", copy);
  return false;
}

// Puts a written value into the value area by the object's type.
void put_value(std::uint8_t* data, std::int32_t type, std::int32_t count, const char* text) {
  switch (type & 0xF) {
    case kValueBytes: {
      std::size_t bytes = count < 0 ? 0 : static_cast<std::size_t>(count);
      if (bytes > kValueRoom) bytes = kValueRoom;
      hex_to_bytes(text, data + lxs::kValue, static_cast<int>(bytes));
      break;
    }
    case kValueText: {
      std::size_t room = count > 0 ? static_cast<std::size_t>(count) + 1 : kValueRoom;
      if (room > kValueRoom) room = kValueRoom;
      put_text(data, lxs::kValue, room, text);
      break;
    }
    case kValueSigned64: {
      auto v = static_cast<std::uint64_t>(std::strtoll(text, nullptr, 10));
      write_u32(data, lxs::kValue, static_cast<std::uint32_t>(v));
      write_u32(data, lxs::kValue + 4, static_cast<std::uint32_t>(v >> 32));
      break;
    }
    default:
      write_u32(data, lxs::kValue, static_cast<std::uint32_t>(std::strtoll(text, nullptr, 10)));
      break;
  }
}

// Asks one LXS counter object of a node; an error answer reads as "-1".
void ask_node_counter(ObjectCall& call, const char* node_wwn, std::uint32_t object_id, char* out,
                      std::size_t cap) {
  out[0] = '\0';
  Outgoing request{kFcpDestination, LXS_FCP, lxs::kSize};
  Channel& channel = call.services.channel;
  channel.transact(request, out, cap, [&](std::uint8_t* data) {
    fill_object_header(channel, data, object_id, 2, 1);
    put_wwn_text(data, lxs::kNodeWwn, node_wwn);
    return true;
  });
  if (std::strncmp(out, "Error:", 6) == 0) std::snprintf(out, cap, "-1");
}

}  // namespace

int qdn_lxs_object(ObjectCall& call, const oid_entry& row) {
  Channel& channel = call.services.channel;
  Outgoing out{kFcpDestination, LXS_FCP, lxs::kSize};
  return ask_driver(call, out, [&](std::uint8_t* data) {
    fill_object_header(channel, data, row.param, row.type, row.count);
    if (!fill_index(call, call.text, data, row)) return false;
    // The dispatcher tells the two forms of object 16 apart by this text.
    std::snprintf(call.text, call.cap, "%s", row.oid);
    return true;
  });
}

// The value goes into the value area by the row's type; the object id,
// type, count and request identifier stay as they are.
int qdn_lxs_set(ObjectCall& call, const oid_entry& row) {
  InstanceText instance(call.text);
  if (instance.value()[0] == '\0' || !lxs_value_fits(instance.value(), row.type, row.count) ||
      !instance_wwns_ok(instance, row.index_kinds)) {
    return reply_invalid_value(call, call.text);
  }
  Channel& channel = call.services.channel;
  Outgoing out{kFcpDestination, LXS_FCP, lxs::kSize};
  return ask_driver(call, out, [&](std::uint8_t* data) {
    fill_object_header(channel, data, row.param | lxs::kWriteBit, row.type, row.count);
    if (!fill_index(call, call.text, data, row)) return false;
    put_value(data, row.type, row.count, instance.value());
    return true;
  });
}

int qdn_counter_pair(ObjectCall& call, const oid_entry& row) {
  std::uint8_t scratch[lxs::kSize] = {};
  if (!fill_index(call, call.text, scratch, row)) return object_reply(call, call.text);
  InstanceText instance(call.text);
  bool receive = std::strcmp(row.oid, "4.3.1.18") == 0;
  char first[kMessageSize + 1];
  char second[kMessageSize + 1];
  ask_node_counter(call, instance.component(0), receive ? 8 : 6, first, sizeof first);
  ask_node_counter(call, instance.component(0), receive ? 7 : 5, second, sizeof second);
  // A row of -1 stands for counters a node lacks, not for a node that is not there.
  bool failed = std::strcmp(first, "-1") == 0 && std::strcmp(second, "-1") == 0;
  if (failed && driver_knows_no(call, FCPH_GET_NODE_PORT_CT, instance.component(0))) {
    return object_reply(call, call.text);
  }
  std::snprintf(call.text, call.cap, "%s|%s|-1|-1|%u", first, second,
                object_uptime_ms(call.services));
  return object_reply(call, call.text);
}

int qdn_fcp_manual_id(ObjectCall& call, const oid_entry&) {
  Channel& channel = call.services.channel;
  Outgoing out{kSifDestination, LXS_GET_FCP_MANUAL_ID, sif::kSize};
  return ask_driver(call, out, [&](std::uint8_t* data) {
    write_u32(data, sif::kRequestId, channel.next_request_id());
    return true;
  });
}

int qdn_set_fcp_manual_id(ObjectCall& call, const oid_entry&) {
  InstanceText instance(call.text);
  Channel& channel = call.services.channel;
  std::uint32_t value = 0;
  if (!parse_field32(instance.value(), &value)) return reply_invalid_value(call, call.text);
  if (call.services.diag.on(kTargetTrace)) {
    call.services.diag.print("AUTO_ASSIGN_SCSI_ID msg called.  fcp_manual_id = %d\n",
                             static_cast<int>(value));
  }
  Outgoing out{kSifDestination, LXS_SET_FCP_MANUAL_ID, sif::kSize};
  return ask_driver(call, out, [&](std::uint8_t* data) {
    write_u32(data, sif::kRequestId, channel.next_request_id());
    write_u32(data, sif::kManualId, value);
    return true;
  });
}

// Reads and writes of a remote node's target ID and blocked state; the row's
// message number tells which (the odd numbers write). A write without a value
// is a read: it asks the matching read message and replies the value.
int qdn_remnode_tgt_info(ObjectCall& call, const oid_entry& row) {
  InstanceText instance(call.text);
  Channel& channel = call.services.channel;
  bool write = (row.param & 1) != 0 && instance.value()[0] != '\0';
  std::uint32_t value = 0;
  if (write &&
      (!parse_field32(instance.value(), &value) || !instance_wwns_ok(instance, row.index_kinds))) {
    return reply_invalid_value(call, call.text);
  }
  if (row.param == LXS_SET_REMNODE_BLOCKED && value == 2) value = 0;
  if (call.services.diag.on(kTargetTrace)) {
    call.services.diag.print("qdn_remnode_tgt_info called.  key = %d   setting tgt_info = %d\n",
                             static_cast<int>(row.param), static_cast<int>(value));
  }
  Outgoing out{kSifDestination, write ? row.param : row.param & ~1u, sif::kSize};
  return ask_driver(call, out, [&](std::uint8_t* data) {
    write_u32(data, sif::kRequestId, channel.next_request_id());
    put_wwn_text(data, sif::kFirstWwn, instance.component(0));
    put_wwn_text(data, sif::kRemoteWwn, instance.component(1));
    if (write) write_u32(data, sif::kRemoteValue, value);
    return true;
  });
}

}  // namespace tavro
