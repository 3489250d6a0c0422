// The agent-object tables of the private tree (branch 3): one row per object,
// a read table and a write table, each ended by an all-zero row.
#pragma once

#include <cstdint>

namespace tavro {

struct ObjectCall;
struct oid_entry;

// Serves one object request and replies through the call.
using oid_handler = int (*)(ObjectCall& call, const oid_entry& row);

struct oid_entry {
  const char* oid;  // suffix below the branch, e.g. "4.3.1.17"
  oid_handler handler;
  std::int32_t components;   // components in oid
  std::uint32_t param;       // object id or message number for generic handlers
  std::int32_t index_count;  // instance components after the suffix
  char index_kinds[8];       // one letter per instance component, a blank, zeros
  std::int32_t type;         // value type code
  std::int32_t count;        // value elements; the text length for type 4
  const char* next;          // suffix of the following object in walk order
};

// Index kind letters.
inline constexpr char kIndexNode = 'N';
inline constexpr char kIndexPort = 'P';
inline constexpr char kIndexRemoteNode = 'R';
inline constexpr char kIndexNumber = 'I';
inline constexpr char kIndexAdapter = 'A';
inline constexpr char kIndexOffset = 'O';
inline constexpr char kIndexSize = 'S';

inline constexpr int kGetTableRows = 136;
inline constexpr int kSetTableRows = 35;

// The suffix that follows the last object of a walk; it names no object.
inline constexpr const char* kWalkEnd = "5.4";

extern const oid_entry oid_get_table[kGetTableRows + 1];
extern const oid_entry oid_set_table[kSetTableRows + 1];

// The first row whose suffix equals the first components of text, or null.
const oid_entry* find_oid_row(const oid_entry* table, const char* text);

}  // namespace tavro
