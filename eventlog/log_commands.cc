#include "eventlog/log_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diag.h"
#include "base/message.h"
#include "base/text.h"
#include "eventlog/log_files.h"
#include "eventlog/request_log.h"

namespace tavro {
namespace {

constexpr std::int32_t kNoteBit = 0x100000;
constexpr std::uint32_t kTraceBit = 0x1000000;
constexpr std::uint32_t kReplyTraceBit = 0x2000000;

std::size_t syntax_error(char* out) {
  return static_cast<std::size_t>(std::snprintf(out, kMessageSize, "%ssyntax", "Error: "));
}

}  // namespace

void LogCommands::start(const char* name, std::uint32_t count, platform::socket_t s,
                        const char* message) {
  if ((log_.flags() & kNoteBit) != 0) log_.note_request(s, message);
  if (diag_.on(kTraceBit)) diag_.print("%s(%d) %s\n", name, static_cast<int>(count), message);
}

int LogCommands::logsize(platform::socket_t s, char* message) {
  start("LOGSIZE", ++logsize_count_, s, message);
  std::size_t length;
  if (std::strcmp(message, "LOGSIZE") == 0) {
    evlog_size_text(log_.path(), message, kMessageSize);
    length = std::strlen(message);
  } else {
    length = syntax_error(message);
  }
  reply(s, message, length);
  return 0;
}

int LogCommands::logread(platform::socket_t s, char* message) {
  start("LOGREAD", ++logread_count_, s, message);
  char* tokens[3];
  std::size_t length;
  if (string2toks(message, tokens, 3, &diag_) < 3) {
    length = syntax_error(message);
  } else {
    long offset = std::strtol(tokens[1], nullptr, 0);
    long count = std::strtol(tokens[2], nullptr, 0);
    length = lxs_fread(log_.path(), offset, count, message, kMessageSize);
  }
  reply(s, message, length);
  return 0;
}

void LogCommands::reply(platform::socket_t s, char* text, std::size_t length) {
  if (length == 0) length = 1;  // an empty reply is one zero byte
  if (diag_.on(kReplyTraceBit)) diag_.print("LOGREPLY() %s\n", text);
  if (platform::send_bytes(s, text, length) != static_cast<ssize_t>(length)) {
    diag_.report_error("LOGREPLY(send()) ERROR\n");
  }
}

int LogCommands::format_stats(char* out, std::size_t cap) const {
  return std::snprintf(out, cap, "LOGSIZE;%d;LOGREAD;%d", static_cast<int>(logsize_count_),
                       static_cast<int>(logread_count_));
}

}  // namespace tavro
