// Resolution of agent objects: finds the object's row below a branch prefix,
// checks its instance and calls the row's handler.
#pragma once

#include "objects/object_call.h"
#include "objects/oid_table.h"

namespace tavro {

inline constexpr const char* kAgentBranch = ".1.3.6.1.4.1.48217.3.";

// Every outcome ends in exactly one reply through sink.
int qdn_oid(ObjectServices& services, ReplySink& sink, platform::socket_t connection,
            const char* oid_text, const char* prefix, const oid_entry* table);

// The parsing half: the row and where its instance begins in oid_text. On
// failure row is null and error tells which reply is due.
struct ResolvedOid {
  const oid_entry* row = nullptr;
  const char* instance = nullptr;
  enum class Error { kNone, kNoSuchMember, kInvalidLength } error = Error::kNone;
};
ResolvedOid resolve_oid(const char* oid_text, const char* prefix, const oid_entry* table);

}  // namespace tavro
