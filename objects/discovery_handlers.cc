// Adapter discovery objects, served by the channel's discovery operations.
#include "channel/discovery.h"
#include "objects/driver_request.h"
#include "objects/handlers.h"

namespace tavro {
namespace {

int reply_after(ObjectCall& call, Transaction (*operation)(Channel&, char*, std::size_t)) {
  operation(call.services.channel, call.text, call.cap);
  return object_reply(call, call.text);
}

int reply_adapter_info(ObjectCall& call, int code) {
  qdn_get_adapt_info(call.services.channel, call.text, call.cap, code);
  return object_reply(call, call.text);
}

}  // namespace

int qdn_adapter_count(ObjectCall& call, const oid_entry&) {
  return reply_after(call, adapter_count);
}
int qdn_adapter_name(ObjectCall& call, const oid_entry&) {
  return reply_after(call, adapter_name);
}
int qdn_adapter_port_count(ObjectCall& call, const oid_entry&) {
  return reply_adapter_info(call, 1);
}
int qdn_adapter_bus_name(ObjectCall& call, const oid_entry&) {
  return reply_adapter_info(call, 2);
}
int qdn_adapter_model(ObjectCall& call, const oid_entry&) {
  return reply_adapter_info(call, 3);
}

int qdn_adapter_port_wwn(ObjectCall& call, const oid_entry&) {
  return reply_after(call, qdn_get_adapt_port);
}

int qdn_duplex_status(ObjectCall& call, const oid_entry&) {
  return reply_after(call, duplex_status);
}

int qdn_adapter_bus_slot(ObjectCall& call, const oid_entry&) {
  bus_and_slot(call.text, call.cap);
  return object_reply(call, call.text);
}

}  // namespace tavro
