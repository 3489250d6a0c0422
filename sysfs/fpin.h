// The Fabric Performance Impact Notifications the FC transport counted for a
// host or a remote port (statistics/fpin_li, fpin_cn, fpin_dn: link
// integrity, congestion and delivery). The transport keeps these itself, so
// reading them costs no firmware command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sysfs {

struct FpinCounts {
  std::optional<std::uint64_t> link_integrity, congestion, delivery;
  bool operator==(const FpinCounts&) const = default;
};

// Of class/fc_host/host<number>.
FpinCounts host_fpin(const std::string& root, unsigned number);
// Of class/fc_remote_ports/<name> ("rport-3:0-1").
FpinCounts remote_port_fpin(const std::string& root, const std::string& name);

}  // namespace sysfs
