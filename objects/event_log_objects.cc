// The event log as objects: its size, a read of a byte range and a write of
// one entry.
#include <cstdlib>

#include "base/diag.h"
#include "base/text.h"
#include "eventlog/event_log.h"
#include "eventlog/log_files.h"
#include "objects/handlers.h"

namespace tavro {
namespace {

long c_number(const char* text) {
  return std::strtol(text, nullptr, 0);
}

void replace_all(char* text, char from, char to) {
  for (char* p = text; *p != '\0'; ++p) {
    if (*p == from) *p = to;
  }
}

}  // namespace

int fclog_size(ObjectCall& call, const oid_entry&) {
  EventLog& log = call.services.events;
  log.flush();
  evlog_size_text(log.path(), call.text, call.cap);
  return object_reply(call, call.text);
}

// The instance is "<offset>.<count>", numbers with C base prefixes.
int fclog_read(ObjectCall& call, const oid_entry&) {
  replace_all(call.text, '.', '|');
  char* tokens[2];
  if (string2toks(call.text, tokens, 2, &call.services.diag) < 2) {
    return object_reply(call, "Error: fclog_read() message is malformed");
  }
  long offset = c_number(tokens[0]);
  long count = c_number(tokens[1]);
  EventLog& log = call.services.events;
  log.settle_repeats();
  lxs_fread(log.path(), offset, count, call.text, call.cap);
  return object_reply(call, call.text);
}

// The value is "<source> <level> <text> <code>"; in the text "#" stands for
// "." and "+" for a blank.
int fclog_write(ObjectCall& call, const oid_entry&) {
  char* tokens[4];
  if (string2toks(call.text, tokens, 4, &call.services.diag) < 4) {
    return object_reply(call, "Error: fclog_write_msg() message is malformed");
  }
  replace_all(tokens[2], '#', '.');
  replace_all(tokens[2], '+', ' ');
  call.services.events.write(static_cast<int>(c_number(tokens[0])),
                             static_cast<int>(c_number(tokens[1])), tokens[2],
                             static_cast<int>(c_number(tokens[3])));
  return object_reply(call, "ok");
}

}  // namespace tavro
