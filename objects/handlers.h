// The handlers of the agent objects. Each serves one request described by
// the call and its table row, and ends with exactly one reply through the
// call's sink.
#pragma once

#include "objects/object_call.h"
#include "objects/oid_table.h"

namespace tavro {

// Replies and their shared error texts.
int object_reply(ObjectCall& call, const char* text);
int reply_no_such_member(ObjectCall& call, const char* text);
int reply_not_supported(ObjectCall& call, const char* text);
int reply_invalid_oid_length(ObjectCall& call, const char* text);
// A write whose value is missing or does not fit its field.
int reply_invalid_value(ObjectCall& call, const char* text);

int qdn_not_supported(ObjectCall& call, const oid_entry& row);

// Port and node queries to the driver's "fcph" service, and their writes.
int qdn_fcph_query(ObjectCall& call, const oid_entry& row);
int qdn_fcph_set(ObjectCall& call, const oid_entry& row);

// LXS objects: one generic read and write by the row's object id.
int qdn_lxs_object(ObjectCall& call, const oid_entry& row);
int qdn_lxs_set(ObjectCall& call, const oid_entry& row);
// The two node counter pairs, each answered from two LXS objects.
int qdn_counter_pair(ObjectCall& call, const oid_entry& row);

// Adapter discovery.
int qdn_adapter_count(ObjectCall& call, const oid_entry& row);
int qdn_adapter_name(ObjectCall& call, const oid_entry& row);
int qdn_adapter_port_count(ObjectCall& call, const oid_entry& row);
int qdn_adapter_bus_name(ObjectCall& call, const oid_entry& row);
int qdn_adapter_bus_slot(ObjectCall& call, const oid_entry& row);
int qdn_adapter_model(ObjectCall& call, const oid_entry& row);
int qdn_adapter_port_wwn(ObjectCall& call, const oid_entry& row);
int qdn_duplex_status(ObjectCall& call, const oid_entry& row);

// The target-support service.
int qdn_fcp_manual_id(ObjectCall& call, const oid_entry& row);
int qdn_set_fcp_manual_id(ObjectCall& call, const oid_entry& row);
int qdn_remnode_tgt_info(ObjectCall& call, const oid_entry& row);

// Values known without asking the driver.
int qdn_local_value(ObjectCall& call, const oid_entry& row);
int qdn_host_vendor(ObjectCall& call, const oid_entry& row);
int qdn_os_text(ObjectCall& call, const oid_entry& row);
int qdn_processor(ObjectCall& call, const oid_entry& row);
int qdn_processor_count(ObjectCall& call, const oid_entry& row);
int qdn_uptime(ObjectCall& call, const oid_entry& row);
int qdn_channel_ready(ObjectCall& call, const oid_entry& row);
int qdn_accept_write(ObjectCall& call, const oid_entry& row);
int qdn_port_wwn(ObjectCall& call, const oid_entry& row);

// The event log: size, read and write.
int fclog_size(ObjectCall& call, const oid_entry& row);
int fclog_read(ObjectCall& call, const oid_entry& row);
int fclog_write(ObjectCall& call, const oid_entry& row);

}  // namespace tavro
