// stdagent's three object tables, each ended by an all-zero row.
#pragma once

#include "objects/oid_table.h"

namespace tavro {

// Index kind of a connectivity unit: 16 sub-identifiers, the adapter number last.
inline constexpr char kIndexUnit = 'U';

inline constexpr int kStdGetTableRows = 158;
inline constexpr int kStdServedRows = 34;
inline constexpr int kGroupTableRows = 40;
inline constexpr int kGroupEntries = 6;  // the named entries a walk goes on at
inline constexpr int kStdSetTableRows = 12;

// The next suffix that ends a walk; it names no object.
inline constexpr const char* kStdWalkEnd = "6.0";

extern const oid_entry stdmib_get_table[kStdGetTableRows + 1];
extern const oid_entry group_table[kGroupTableRows + 1];
extern const oid_entry stdmib_set_table[kStdSetTableRows + 1];

}  // namespace tavro
