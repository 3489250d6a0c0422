// The LOGSIZE and LOGREAD commands: the request log's size and any byte range
// of it, read remotely.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"

namespace tavro {

class Diag;
class RequestLog;

class LogCommands {
 public:
  LogCommands(RequestLog& log, const Diag& diag) : log_(log), diag_(diag) {}

  int logsize(platform::socket_t s, char* message);
  int logread(platform::socket_t s, char* message);
  // "LOGSIZE;<n>;LOGREAD;<n>"
  int format_stats(char* out, std::size_t cap) const;

  std::uint32_t logsize_count() const { return logsize_count_; }
  std::uint32_t logread_count() const { return logread_count_; }

 private:
  void start(const char* name, std::uint32_t count, platform::socket_t s, const char* message);
  void reply(platform::socket_t s, char* text, std::size_t length);

  RequestLog& log_;
  const Diag& diag_;
  std::uint32_t logsize_count_ = 0;
  std::uint32_t logread_count_ = 0;
};

}  // namespace tavro
