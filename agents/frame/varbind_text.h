// Conversions between variable bindings and the text the object handlers
// work with: names to dotted text and back, instance decoding, and values
// typed from reply text or written out as text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/snmp_extension.h"

namespace tavro {

struct oid_entry;

// Each sub-identifier as ".%u", concatenated. False (out holds what fitted)
// when the text does not fit in cap bytes.
bool name_to_text(const snmp_oid& name, char* out, std::size_t cap);

// Rewrites the instance at the start of text (cap bytes) into the forms the
// handlers expect, one index kind letter after the other: A (a length and
// that many character codes), I (a decimal), N, P, R (8 bytes as 16 hex
// digits), U (16 bytes as 32 hex digits); any other letter consumes nothing.
// Missing sub-identifiers count as 0; whatever follows the consumed ones is
// kept unchanged after the decoded text. False when a byte or character
// sub-identifier is above 255: such an instance names nothing.
bool decode_instance(char* text, std::size_t cap, const char* kinds);

// Sets value from reply text by the low four bits of a row's type. Returns
// 0, or 5 when the number does not fit its type or no memory is left.
// Types 0 and 9 to 15 leave the value as it was.
int set_value_from_text(snmp_value& value, const char* text, std::int32_t type);

// Frees what a value owns (a dynamic octet string, an identifier's array)
// and leaves it NULL.
void free_value(snmp_value& value);

// The value as text for a write handler, appended to out (cap bytes).
void value_to_text(const snmp_value& value, char* out, std::size_t cap);

}  // namespace tavro
