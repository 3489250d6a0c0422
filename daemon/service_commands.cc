#include "daemon/service_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/message.h"
#include "daemon/commands.h"
#include "daemon/daemon.h"

namespace tavro {
namespace {

struct ServiceCommand {
  const char* name;
  std::int32_t log_bit;
  std::uint32_t trace_bit;
  std::uint32_t ServiceCounters::*counter;
};

constexpr ServiceCommand kRev{"REV", 0x20, 0x40, &ServiceCounters::rev};
constexpr ServiceCommand kEcho{"ECHO", 0x40, 0x20, &ServiceCounters::echo};
constexpr ServiceCommand kStats{"STATS", 0x80, 0x80, &ServiceCounters::stats};
constexpr ServiceCommand kConfig{"CONFIG", 0x200, 0x400, &ServiceCounters::config};

std::uint32_t begin(Daemon& d, const ServiceCommand& cmd, platform::socket_t s,
                    const char* message) {
  std::uint32_t count = ++(d.service.*cmd.counter);
  if ((d.settings.log_flags & cmd.log_bit) != 0) d.requests.note_request(s, message);
  return count;
}

// Sends the reply; a client that went away is reported and the daemon goes on.
void finish(Daemon& d, const ServiceCommand& cmd, std::uint32_t count, platform::socket_t s,
            const char* reply, std::size_t length) {
  if (length > 0 && platform::send_bytes(s, reply, length) != static_cast<ssize_t>(length)) {
    char text[300];
    if (&cmd == &kConfig) {
      std::snprintf(text, sizeof text, "%s(send())", cmd.name);
    } else {
      std::snprintf(text, sizeof text, "%s: %s(send())", d.server.program_name, cmd.name);
    }
    d.diag.report_error(text);
  }
  if (d.diag.on(cmd.trace_bit)) {
    d.diag.print("%s(%d) %s\n", cmd.name, static_cast<int>(count), reply);
  }
}

// Appends formatted text to a bounded buffer, never past its end.
class Builder {
 public:
  Builder(char* out, std::size_t cap) : out_(out), cap_(cap) { out_[0] = '\0'; }

  template <typename... Args>
  void add(const char* format, Args... args) {
    if (len_ + 1 >= cap_) return;
    int n = std::snprintf(out_ + len_, cap_ - len_, format, args...);
    if (n > 0) len_ = std::min(cap_ - 1, len_ + static_cast<std::size_t>(n));
  }
  void drop_last(char c) {
    if (len_ > 0 && out_[len_ - 1] == c) out_[--len_] = '\0';
  }
  std::size_t length() const { return len_; }

 private:
  char* out_;
  std::size_t cap_;
  std::size_t len_ = 0;
};

void add_setting(Builder& b, const char* key, std::uint32_t type, std::int32_t number,
                 const char* text) {
  switch (type & kTypeMask) {
    case kTypeInteger:
      b.add("%s%c%d (0x%x)%c", key, ';', number, static_cast<unsigned>(number), ';');
      break;
    case kTypeText:
      b.add("%s%c%s%c", key, ';', text, ';');
      break;
    case kTypeEnable:
      b.add("%s%c%s%c", key, ';', number == kEnabled ? "enabled" : "disabled", ';');
      break;
    case kTypeAccess: {
      char access[4];
      format_access(number, access);
      b.add("%s%c%s%c", key, ';', access, ';');
      break;
    }
    default:
      break;
  }
}

}  // namespace

int rev_request(Daemon& d, platform::socket_t s, char* message) {
  std::uint32_t count = begin(d, kRev, s, message);
  finish(d, kRev, count, s, revision_text, std::strlen(revision_text));
  return 0;
}

int echo_request(Daemon& d, platform::socket_t s, char* message) {
  std::uint32_t count = begin(d, kEcho, s, message);
  const char* reply = message + 4;
  finish(d, kEcho, count, s, reply, std::strlen(reply));
  return 0;
}

std::size_t build_stats_reply(const Daemon& d, char* out, std::size_t cap) {
  Builder b(out, cap);
  for (const CommandRow* row = command_table; row->prefix != nullptr; ++row) {
    if (row->stats_formatter == nullptr) continue;
    char one[256];
    row->stats_formatter(d, one, sizeof one);
    b.add("%s;", one);
  }
  b.add("INVMSG%c%d", ';', static_cast<int>(d.server.invalid_count.load()));
  return b.length();
}

int stats_request(Daemon& d, platform::socket_t s, char* message) {
  std::uint32_t count = begin(d, kStats, s, message);
  if (message[0] != '\0' && message[5] == ' ') {
    char name[1025];
    std::snprintf(name, sizeof name, "%s", message + 6);
    char* reply = message + 6;
    const std::size_t cap = kMessageSize + 1 - 6;
    const CommandRow* row = command_table;
    while (row->prefix != nullptr && std::strcmp(row->prefix, name) != 0) ++row;
    if (row->prefix == nullptr) {
      std::snprintf(reply, cap, "%s -invalid message", name);
    } else if (row->stats_formatter == nullptr) {
      std::snprintf(reply, cap, "%s:nostat", name);
    } else {
      row->stats_formatter(d, reply, cap);
    }
    finish(d, kStats, count, s, reply, std::strlen(reply));
    return 0;
  }
  std::size_t length = build_stats_reply(d, message, kMessageSize + 1);
  finish(d, kStats, count, s, message, length);
  return 0;
}

std::size_t build_config_reply(const Daemon& d, char* out, std::size_t cap) {
  Builder b(out, cap);
  add_setting(b, "Up since", kTypeText, 0, d.server.up_since);
  add_setting(b, "Revision", kTypeText, 0, revision_text);
  for (const OptionRow* row = option_table; row->option != nullptr; ++row) {
    bool text = (row->type & kTypeMask) == kTypeText;
    add_setting(b, row->key, row->type, text ? 0 : integer_setting(d.settings, *row),
                text ? text_setting(d.settings, *row) : "");
  }
  b.drop_last(';');
  return b.length();
}

int config_request(Daemon& d, platform::socket_t s, char* message) {
  std::uint32_t count = begin(d, kConfig, s, message);
  std::size_t length = build_config_reply(d, message, kMessageSize + 1);
  finish(d, kConfig, count, s, message, length);
  return 0;
}

}  // namespace tavro
