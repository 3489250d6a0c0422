// Rendering of HBA API result structures: one entry per type letter lists the
// fields shown, where they lie and how each is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tavro {

class Diag;

struct HbaField {
  const char* name;  // shown in traces
  std::uint16_t offset;
  std::uint8_t type;   // value type code (value_format.h)
  std::uint8_t count;  // values (bytes for type 3); below 1 ends the list
};

inline constexpr int kHbaMaxFields = 32;
inline constexpr int kHbaStructCount = 22;
// A letter's position here is its entry's index in apistructs.
inline constexpr const char* kHbaStructLetters = "ABCElrpGHILMNPRSTUuVWY";

struct HbaStruct {
  HbaField fields[kHbaMaxFields];
};

extern const HbaStruct apistructs[kHbaStructCount];

// The field count of each entry, computed once from apistructs.
using HbaFieldCounts = std::array<int, kHbaStructCount>;

// Counts the leading fields of every entry whose count is at least 1; with
// Debug bit 0x400000 prints each entry's count through diag.
void hbaapi_count_fields(HbaFieldCounts& counts, const Diag* diag);

// The entry's field count; 0 for a letter outside the 22.
int hbaapi_field_count(const HbaFieldCounts& counts, char letter);

// One output of a call: its letter and its buffer.
struct HbaOutput {
  char letter;
  const unsigned char* data;
  std::size_t size;
};

// Appends the fields of one output to out (cap bytes with the terminator,
// at length *used), '|' between fields; "UNKNOWN_TYPE(<letter>)" for a letter
// outside the 22. Nothing is read past the output's buffer.
void hbaapi_render(const HbaOutput& output, const HbaFieldCounts& counts, const Diag* diag,
                   char* out, std::size_t cap, std::size_t* used);

// The reply of a call's outputs with field selector F: every output (F = 0)
// or field F alone, or the error text. Writes at most cap bytes.
void hbaapi_assemble(std::span<const HbaOutput> outputs, long long field,
                     const HbaFieldCounts& counts, const Diag* diag, char* out, std::size_t cap);

}  // namespace tavro
