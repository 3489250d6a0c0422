// The handlers of the direct objects, the direct-object lookup and the
// adapter description of branch 1. Every entry point ends with exactly one
// reply through the sink.
#pragma once

#include <cstddef>

#include "objects/direct/direct_access.h"
#include "objects/direct/fcdi_table.h"
#include "objects/object_call.h"

namespace tavro {

// One direct-object request. text is the handler's argument on entry and its
// reply area (cap bytes with the terminator).
struct DirectCall {
  DirectAccess& direct;
  ReplySink& sink;
  char* text;
  std::size_t cap;
};

inline constexpr int kFcdiRead = 0;
inline constexpr int kFcdiWrite = 1;

// Resolves text (what follows ".1.3.6.1.4.1.48217.2.") in table and calls the
// row's handler.
int fcdi_lookup(DirectAccess& direct, ReplySink& sink, const char* text,
                const fcdi_oid_entry* table, int mode);

// The description of the first adapter, from its device.
int fcdi_adapter_description(DirectAccess& direct, ReplySink& sink);

int fcdi_manufacturer(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_description(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_not_supported(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_tick_interval(DirectCall& call, const fcdi_oid_entry& row, int adapter);

// Records read by one I/O control request and rendered by the row.
int fcdi_wwn(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_statistics(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_scsi_stats(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_net_stats(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_diag_tach(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_diag_frame(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_io_throughput(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_mb_throughput(DirectCall& call, const fcdi_oid_entry& row, int adapter);

// The serial EEPROM.
int fcdi_eeprom(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_eeprom_word(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_adapter_type(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_ip_name(DirectCall& call, const fcdi_oid_entry& row, int adapter);

// Nodes.
int fcdi_node_count(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_node_state(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fc_get_node(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_set_node(DirectCall& call, const fcdi_oid_entry& row, int adapter);

// Driver settings.
int fcdi_settings(DirectCall& call, const fcdi_oid_entry& row, int adapter);
int fcdi_set_key(DirectCall& call, const fcdi_oid_entry& row, int adapter);

}  // namespace tavro

namespace tavro {

// Sends text as the reply.
int fcdi_reply(DirectCall& call, const char* text);
// "Error: <operation>() <status text>".
int fcdi_fail(DirectCall& call, const char* operation, int status);

}  // namespace tavro
