// What a driver event becomes in the Fibre Alliance MIB's connUnitEventTrap,
// apart from the port it names: its connUnitEventType and FcEventSeverity,
// as pure functions of the event's severity code and text.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavro {

// connUnitEventType: a change of a port's own status, or of what it sees of
// the fabric (a remote port, its LUNs, an RSCN).
inline constexpr long kEventTypeStatus = 3, kEventTypeTopology = 5;

// The MIB's FcEventSeverity of a driver event's severity code: 411 notify
// (7), 611 warning (6), 711 error (5), 811 critical (4), 911 alert (3),
// any other unknown (1).
int fc_event_severity(std::uint32_t code);

// The connUnitEventType of a driver event's text.
long fc_event_type(std::string_view text);

}  // namespace tavro
