// Checks of the value text of an object write. A value that is missing or
// does not fit the field it is written to is refused before anything is sent.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

class InstanceText;

// A decimal number: leading and trailing blanks, a sign and digits, nothing
// else; refused when it lies outside [low, high].
bool parse_decimal(const char* text, std::int64_t low, std::int64_t high, std::int64_t* out);

// Exactly 16 hexadecimal digits.
bool is_wwn_text(const char* text);

// Every port, node and remote node component of a write's instance (the
// letters P, N and R of kinds, in order) is a WWN.
bool instance_wwns_ok(const InstanceText& instance, const char* kinds);

// A 32-bit field written from decimal text: any number that has a 32-bit
// form, signed or unsigned.
bool parse_field32(const char* text, std::uint32_t* out);

// The value of an LXS object write fits the row's type and count: numbers in
// the range of their type, text of at most count characters, at most count
// bytes of hexadecimal digits.
bool lxs_value_fits(const char* text, std::int32_t type, std::int32_t count);

}  // namespace tavro
