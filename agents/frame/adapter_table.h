// What discovery knows of the adapters (count, names, port and node WWNs),
// and the instances of an object it lets an agent list and check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavro {

inline constexpr int kMaxAdapters = 8;
inline constexpr int kMaxPorts = 8;
inline constexpr int kMaxRemoteNodes = 64;

struct AdapterEntry {
  char adap[65];
  char port_wwn[17];  // the port the adapter names as its own
  char node_wwn[17];
  std::int32_t port_count;  // of ports[], each one the driver answered for
  char ports[kMaxPorts][17];
  std::int32_t remote_count;  // of remotes[], the remote nodes the node sees
  char remotes[kMaxRemoteNodes][17];
};

struct AdapterTable {
  std::int32_t count = 0;
  AdapterEntry names[kMaxAdapters] = {};
  bool known = false;            // the last rebuild read every field
  std::uint32_t generation = 0;  // raised by every rebuild
};

using SubIds = std::vector<std::uint32_t>;

// The entry's port WWNs: the port the adapter names first, then the other
// ports of its node that discovery read.
std::vector<std::string> port_wwns(const AdapterEntry& entry);

// The index kind letters of a row (they end at a blank or the end).
std::string kinds_of(const char (&index_kinds)[8]);

// Appends every instance the table knows for these index kinds: none (one
// empty instance), U (units 1 to count), UI (each unit's ports, numbered from
// 1; port 1 where none was read), I (adapter indexes), A (adapter names), AI
// (each name with port index 0), P (each port WWN of each adapter, once), N
// (node WWNs), NR (each node with each of its remote nodes). False, with
// nothing appended, for other kinds.
bool list_instances(const std::string& kinds, const AdapterTable& table, std::vector<SubIds>& out);

// True when the kinds take exactly the n sub-identifiers of ids: A a length
// and that many character codes, I, O and S one, N, P and R eight, U
// sixteen; a byte or character above 255 names nothing.
bool instance_shape_fits(const std::string& kinds, const std::uint32_t* ids, std::size_t n);

}  // namespace tavro
