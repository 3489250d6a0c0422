// What the watcher compares from one look to the next: the FC hosts, their
// remote ports and the SCSI devices below them, as the sysfs model shows
// them now. A View is a plain value: diff() compares two of them without
// touching a file, a clock or a thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sysfs/fpin.h"
#include "sysfs/model.h"

namespace qlinux::watch {

// Severity codes of the driver event message.
inline constexpr std::uint32_t kNotice = 411;
inline constexpr std::uint32_t kWarning = 611;
inline constexpr std::uint32_t kError = 711;
inline constexpr std::uint32_t kAlarm = 811;

// Longest event text the programs keep from a driver event.
inline constexpr std::size_t kTextMax = 247;

struct Change {
  std::uint32_t severity = kNotice;
  std::string text;  // one line, at most kTextMax characters
  bool operator==(const Change&) const = default;
};

struct View {
  struct Host {
    std::string adapter;  // the adapter's name, "pci0000:3b/dev00"
    sysfs::FcHost attributes;
    std::vector<sysfs::RemotePort> remote_ports;
    sysfs::FpinCounts fpin;
    std::vector<sysfs::FpinCounts> remote_fpin;  // one per remote port, in their order
  };
  std::vector<Host> hosts;  // in the adapters' order
};

// One look at the model: every listed adapter's hosts and remote ports.
View look(const sysfs::Model& model);

// What changed from before to after, in a stable order: adapters gone or
// added, then host by host its own attributes, its remote ports and LUNs.
std::vector<Change> diff(const View& before, const View& after);

// "pci0000:3b/dev00 port 21000024FF3A5B10", or "... host3" when the port
// name is not told.
std::string port_label(const View::Host& host);
// The host numbered n, or null.
const View::Host* find_host(const View& view, unsigned n);
std::string wwn_text(sysfs::Wwn wwn);
// Cuts text to kTextMax characters.
Change make_change(std::uint32_t severity, std::string text);

}  // namespace qlinux::watch
