// The direct-object lookup and the adapter description of branch 1.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/message.h"
#include "objects/direct/direct_handlers.h"

namespace tavro {
namespace {

constexpr std::size_t kErrorReplySize = kMessageSize + 64;

int error_reply(ReplySink& sink, const char* format, const char* text) {
  char reply[kErrorReplySize];
  std::snprintf(reply, sizeof reply, format, "Error: ", text);
  return sink.reply(reply);
}

// The adapter number before the first ".", read with C base prefixes; text
// that is no number reads as 0, and a number too large for any adapter
// stays too large.
long long adapter_number(const char* text, const char* dot) {
  std::string digits(text, dot);
  long long number = std::strtoll(digits.c_str(), nullptr, 0);
  if (number == LLONG_MIN) number = LLONG_MIN + 1;
  return number;
}

// Replies the adapter error, or returns -1 with *index set.
int select_adapter(DirectAccess& direct, ReplySink& sink, long long number, int* index) {
  char reply[64];
  if (number >= 1 && number <= DirectAccess::kAdapters) {
    *index = static_cast<int>(number - 1);
    if (direct.handle(*index) != nullptr) return -1;
    std::snprintf(reply, sizeof reply, "%sAdapter(%d) Inactive", "Error: ", *index);
  } else {
    std::snprintf(reply, sizeof reply, "%sIllegal Adapter(%lld)",
                  "Error: ", number == 0 ? 0 : number - 1);
  }
  return sink.reply(reply);
}

const fcdi_oid_entry* find_row(const fcdi_oid_entry* table, const char* suffix) {
  for (const fcdi_oid_entry* row = table; row->oid != nullptr; ++row) {
    if (std::strncmp(suffix, row->oid, std::strlen(row->oid)) == 0) return row;
  }
  return nullptr;
}

// Where the handler's argument starts, or null when the row does not take
// this text.
const char* argument(const fcdi_oid_entry& row, const char* whole, const char* after, int mode) {
  if ((row.type & kFcdiPrefixRow) != 0) return after;
  if (mode == kFcdiRead) return *after == 0 ? whole : nullptr;
  return *after == ' ' ? after + 1 : nullptr;
}

}  // namespace

int fcdi_reply(DirectCall& call, const char* text) {
  return call.sink.reply(text);
}

int fcdi_fail(DirectCall& call, const char* operation, int status) {
  char reply[128];
  std::snprintf(reply, sizeof reply, "%s%s() %s", "Error: ", operation,
                fc_status_text(status).text);
  return call.sink.reply(reply);
}

int fcdi_lookup(DirectAccess& direct, ReplySink& sink, const char* text,
                const fcdi_oid_entry* table, int mode) {
  direct.open_all();
  char buffer[kMessageSize + 1];
  std::snprintf(buffer, sizeof buffer, "%s", text);
  const char* dot = std::strchr(buffer, '.');
  if (dot == nullptr) return sink.reply("Error: No Such Member");
  int index = 0;
  if (select_adapter(direct, sink, adapter_number(buffer, dot), &index) != -1) return 0;
  const char* suffix = dot + 1;
  const fcdi_oid_entry* row = find_row(table, suffix);
  const char* arg =
      row == nullptr ? nullptr : argument(*row, buffer, suffix + std::strlen(row->oid), mode);
  if (arg == nullptr) return error_reply(sink, "%sNo such member(%s)", buffer);
  // The argument moves to the front: the whole buffer is the reply area.
  std::memmove(buffer, arg, std::strlen(arg) + 1);
  DirectCall call{direct, sink, buffer, sizeof buffer};
  return row->handler(call, *row, index);
}

int fcdi_adapter_description(DirectAccess& direct, ReplySink& sink) {
  direct.open_all();
  fcdi_handle* h = direct.handle(0);
  if (h == nullptr) return sink.reply("Error: No adapter");
  char text[kDescriptionSize + 1] = {};
  int status = direct.request(h, kIoctlDescription, nullptr, 0, text, kDescriptionSize);
  if (status != kFcOk) {
    char reply[64];
    std::snprintf(reply, sizeof reply, "%s%s", "Error: ", fc_status_text(status).text);
    return sink.reply(reply);
  }
  return sink.reply(text);
}

}  // namespace tavro
