// stdagent's two object tables, each ended by an all-zero row.
#pragma once

#include "objects/oid_table.h"

namespace tavro {

// Index kind of a connectivity unit: 16 sub-identifiers, the adapter number last.
inline constexpr char kIndexUnit = 'U';

inline constexpr int kStdGetTableRows = 158;
inline constexpr int kStdServedRows = 34;
inline constexpr int kStdSetTableRows = 12;

extern const oid_entry stdmib_get_table[kStdGetTableRows + 1];
extern const oid_entry stdmib_set_table[kStdSetTableRows + 1];

}  // namespace tavro
