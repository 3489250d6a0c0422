// The value formatter: turns typed values (packed little-endian elements)
// into reply text. Shared by the driver response dispatcher, the object
// handlers and the HBA API rendering.
#pragma once

#include <cstddef>

namespace tavro {

// Value type codes. Only the low four bits of a type select the code.
inline constexpr int kValueSigned = 1;    // signed 32-bit, "%d"
inline constexpr int kValueUnsigned = 2;  // unsigned 32-bit, "%u"
inline constexpr int kValueBytes = 3;     // bytes as two hexadecimal digits each, no separator
inline constexpr int kValueText = 4;      // the first count characters
inline constexpr int kValueU8 = 5;        // unsigned 8-bit, "%u"
inline constexpr int kValueU16 = 6;       // unsigned 16-bit, "%u"
inline constexpr int kValueHex8 = 7;      // 32-bit, "%08X"
inline constexpr int kValueHex6 = 8;      // 32-bit, "%06X"
inline constexpr int kValueSigned64 = 9;  // signed 64-bit decimal
inline constexpr int kValueWideHex = 10;  // 32-bit, "%16X"

// Bytes one element of the type occupies; 0 for an unknown code.
std::size_t value_element_size(int type);

// Writes count elements from data as text into out (cap bytes, always
// terminated). Numeric elements are joined by ":". No element is read beyond
// data_bytes: the count is cut to what data holds. An unknown code writes
// "Error: Unknown oid->type <type>". Returns the length written.
std::size_t format_value(char* out, std::size_t cap, const void* data, std::size_t data_bytes,
                         int count, int type);

}  // namespace tavro
