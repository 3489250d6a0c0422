// The fabric's performance-impact notifications (FPIN) that the kernel of
// this host counted for its ports and their remote ports. The daemon has no
// request for them, so tavroctl reads them from sysfs itself, and only when
// the daemon it talks to runs on this host: ports and remote ports are
// matched by port WWN, and a count the kernel does not keep stays unknown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sysfs/fpin.h"
#include "tavroctl/inventory.h"

namespace tavroctl {

struct FpinKind {
  const char* key;     // in JSON and metric names
  const char* column;  // in tables: the kernel's name
  std::optional<std::uint64_t> sysfs::FpinCounts::*count;
  const char* help;
};
// Link integrity, congestion (the port's own and its peer's), delivery.
extern const FpinKind kFpinKinds[3];

// True when every address the name stands for is a loopback address.
bool is_loopback(const std::string& host);

// Fills each port's fpin and remote_fpin from the tree at root.
void attach_fpin(std::vector<Adapter>& adapters, const std::string& root);

// The counts of a remote port on the path it is seen by: via when known,
// else the one port of the adapter whose host has it; none when ambiguous.
sysfs::FpinCounts remote_fpin(const Adapter& a, const RemotePort& rp);

}  // namespace tavroctl
