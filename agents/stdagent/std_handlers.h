// The handlers of stdagent's objects. They reach the agent's adapter table
// through the call's context (an AdapterTable).
#pragma once

#include <cstdint>

#include "agents/frame/adapter_table.h"
#include "objects/object_call.h"
#include "objects/oid_table.h"

namespace tavro {

// The adapter number a unit identifier (32 hexadecimal digits at the start
// of text) names, or -1 when it is no number from 0 to 255.
int unit_number(const char* text);

int std_adapter_count(ObjectCall& call, const oid_entry& row);
int std_port_query(ObjectCall& call, const oid_entry& row);
int std_adapter_field(ObjectCall& call, const oid_entry& row);
int std_instance_echo(ObjectCall& call, const oid_entry& row);
int std_error_total(ObjectCall& call, const oid_entry& row);
int std_constant(ObjectCall& call, const oid_entry& row);
int std_not_served(ObjectCall& call, const oid_entry& row);

}  // namespace tavro
