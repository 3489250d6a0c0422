#include "objects/qdn_oid.h"

#include <cstdio>

#include "base/message.h"
#include "base/text.h"
#include "eventlog/request_log.h"
#include "objects/driver_request.h"
#include "objects/handlers.h"
#include "objects/oid_text.h"

namespace tavro {
namespace {

constexpr std::int32_t kNoteObjectRequests = 0x100;

void note_oid(ObjectServices& services, platform::socket_t connection, const char* oid_text) {
  if (services.requests == nullptr || (services.requests->flags() & kNoteObjectRequests) == 0) {
    return;
  }
  char note[kMessageSize + 32];
  // The note gets its own line end.
  std::snprintf(note, sizeof note, "qdn_oid: OID buf: %s", oid_text);
  services.requests->note_request(connection, note);
}

}  // namespace

ResolvedOid resolve_oid(const char* oid_text, const char* prefix, const oid_entry* table) {
  ResolvedOid result;
  const char* suffix = oid_skip(oid_text, oid_component_count(prefix));
  const oid_entry* row = find_oid_row(table, suffix);
  if (row == nullptr) {
    result.error = ResolvedOid::Error::kNoSuchMember;
    return result;
  }
  const char* instance = oid_skip(suffix, row->components);
  if (oid_component_count(instance) != row->index_count) {
    result.error = ResolvedOid::Error::kInvalidLength;
    return result;
  }
  result.row = row;
  result.instance = instance;
  return result;
}

int qdn_oid(ObjectServices& services, ReplySink& sink, platform::socket_t connection,
            const char* oid_text, const char* prefix, const oid_entry* table) {
  services.channel.qdn_open();
  note_oid(services, connection, oid_text);
  char buffer[kMessageSize + 1];
  ObjectCall call{services, sink, connection, buffer, sizeof buffer};
  ResolvedOid resolved = resolve_oid(oid_text, prefix, table);
  switch (resolved.error) {
    case ResolvedOid::Error::kNoSuchMember:
      return reply_no_such_member(call, oid_text);
    case ResolvedOid::Error::kInvalidLength:
      return reply_invalid_oid_length(call, oid_text);
    case ResolvedOid::Error::kNone:
      break;
  }
  std::snprintf(buffer, sizeof buffer, "%s", resolved.instance);
  return resolved.row->handler(call, *resolved.row);
}

}  // namespace tavro
