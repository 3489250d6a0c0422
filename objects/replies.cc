// The reply helpers every object handler ends with.
#include <cstdio>

#include "base/message.h"
#include "objects/handlers.h"

namespace tavro {
namespace {

// Room for "Error: ", the message and a whole quoted request.
constexpr std::size_t kErrorReplySize = kMessageSize + 64;

int error_reply(ObjectCall& call, const char* format, const char* text) {
  char reply[kErrorReplySize];
  std::snprintf(reply, sizeof reply, format, "Error: ", text);
  return call.sink.reply(reply);
}

}  // namespace

int object_reply(ObjectCall& call, const char* text) {
  return call.sink.reply(text);
}

int reply_no_such_member(ObjectCall& call, const char* text) {
  return error_reply(call, "%sNo such member(%s)", text);
}

int reply_not_supported(ObjectCall& call, const char* text) {
  return error_reply(call, "%sNot supported yet(%s)", text);
}

int reply_invalid_oid_length(ObjectCall& call, const char* text) {
  return error_reply(call, "%sInvalid OID length(%s)", text);
}

int reply_invalid_value(ObjectCall& call, const char* text) {
  return error_reply(call, "%sInvalid value(%s)", text);
}

int qdn_not_supported(ObjectCall& call, const oid_entry&) {
  return reply_not_supported(call, call.text);
}

}  // namespace tavro
