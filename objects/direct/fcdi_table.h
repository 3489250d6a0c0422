// The direct-object tables of the private tree (branch 2): objects read or
// written straight from an adapter's device and the driver's settings. A row
// names the object by its suffix below the adapter number.
#pragma once

#include <cstdint>

namespace tavro {

struct DirectCall;
struct fcdi_oid_entry;

// Serves one direct-object request for the adapter at index adapter and
// replies through the call.
using fcdi_handler = int (*)(DirectCall& call, const fcdi_oid_entry& row, int adapter);

struct fcdi_oid_entry {
  const char* oid;  // suffix below the adapter number; one ending in "." is a prefix row
  fcdi_handler handler;
  const char* setting;  // registry value name of a settings write row
  std::uint32_t type;   // low four bits: value type code; kFcdiPrefixRow
  std::uint32_t reserved[2];
  std::int32_t offset;  // byte offset of the value in the operation's record
  std::int32_t count;   // value elements
};

// The text after a prefix row's suffix is the handler's argument.
inline constexpr std::uint32_t kFcdiPrefixRow = 0x10;

inline constexpr int kFcdiGetRows = 140;
inline constexpr int kFcdiSetRows = 9;

extern const fcdi_oid_entry fcdi_get_table[kFcdiGetRows + 1];
extern const fcdi_oid_entry fcdi_set_table[kFcdiSetRows + 1];

}  // namespace tavro
