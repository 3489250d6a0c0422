// What an object handler works with: the program's services and the one
// request it serves.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/net.h"

namespace tavro {

class Channel;
class Diag;
class EventLog;
class RequestLog;

// Where a handler's answer goes: the daemon sends it on the connection, an
// SNMP agent types it into its variable binding.
class ReplySink {
 public:
  // Delivers the reply text; returns 0, or 1 when it could not be delivered.
  virtual int reply(const char* text) = 0;

 protected:
  ~ReplySink() = default;
};

// Services the handlers share for the program's lifetime.
struct ObjectServices {
  Channel& channel;
  const Diag& diag;
  EventLog& events;
  RequestLog* requests;                                // null where there is no request log
  const std::chrono::steady_clock::time_point& start;  // the clock of uptime values
};

// One object request. text holds the instance on entry (for a write: the
// instance, a blank and the value) and is the reply buffer: a handler writes
// its reply there, at most cap bytes with the terminator.
struct ObjectCall {
  ObjectServices& services;
  ReplySink& sink;
  platform::socket_t connection;  // kNoConnection outside the daemon
  char* text;
  std::size_t cap;
  const void* context = nullptr;  // what an agent hands its own handlers
};

inline constexpr platform::socket_t kNoConnection = -2;

// Milliseconds on the services' clock, wrapping as a 32-bit counter does.
inline std::uint32_t object_uptime_ms(const ObjectServices& services) {
  auto elapsed = std::chrono::steady_clock::now() - services.start;
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace tavro
