// The simulated driver's services: they answer one request message in place
// (the response data area is the request's, with the driver's answer filled
// in) and report the state changes that become driver events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/model.h"
#include "sim/wire.h"

namespace sim {

// Driver event severity codes (message 0x0300000B, offset 0).
inline constexpr std::uint32_t kSeverityNotice = 411;
inline constexpr std::uint32_t kSeverityWarning = 611;
inline constexpr std::uint32_t kSeverityError = 711;
inline constexpr std::uint32_t kSeverityAlarm = 811;

inline constexpr std::uint32_t kDriverEventNumber = 0x0300000B;
inline constexpr std::uint32_t kLxsObjectRequest = 0x0B00001E;

struct Event {
  std::uint32_t severity = kSeverityNotice;
  std::string text;
};

// The response number of a request: request + 1 for the FCPH family
// (0x15000000 to 0x15FFFFFF), otherwise the request with bit 31 set.
std::uint32_t response_number(std::uint32_t request);

// Which service a destination name reaches.
enum class Service { kNone, kFcph, kFcp, kTargetSupport, kAdapter };
Service route(const Model& model, const std::string& destination, int* adapter_index);

// Answers one request. lxs_status (2 to 5, 0 for none) is an injected failure
// for the messages that carry an LXS status: the status is set and nothing
// else is read or changed. Events produced by model changes are appended.
void answer_request(Model& model, Service service, int adapter_index, std::uint32_t number,
                    Area data, std::int64_t now_ms, std::uint32_t lxs_status,
                    std::vector<Event>& events);

// Takes a port's link up or down; appends the driver event when it changed.
// Returns 0, -1 for no such port, -2 when a disabled port (state 0) is asked up.
int change_link(Model& model, int adapter, int port, bool up, std::int64_t now_ms,
                std::vector<Event>& events);

}  // namespace sim
