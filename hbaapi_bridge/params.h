// Input parameters of an HBA API call, parsed from request tokens by their
// type letter, and the output buffers allocated by theirs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tavro {

class Diag;

// How a parameter is passed to the library.
enum class HbaParamKind : std::uint8_t {
  kU32,   // 'u', 'H', 'U': a 32-bit integer
  kU8,    // 'V': an 8-bit integer
  kU64,   // 'L': a 64-bit integer
  kText,  // 'C' and every other letter: a pointer to a text
};

// Bytes a text parameter occupies at least, zero-filled past the text: an
// adapter name of the standard holds 256.
inline constexpr std::size_t kHbaTextParam = 256;

struct HbaParam {
  HbaParamKind kind = HbaParamKind::kU32;
  std::uint64_t number = 0;
  std::string text;  // kText: the bytes whose address is passed
};

// A number read as strtol reads it: leading blanks, a sign, an optional 0x for
// base 16, digits up to the first other character; no digits give 0.
struct HbaNumber {
  long long value = 0;
  const char* end = nullptr;  // just after the last character read
  bool fits = true;           // false when the value overflowed a long long
};
HbaNumber hbaapi_read_number(const char* text, int base);

// Parses one token by its letter into param. Returns false when the number
// does not fit the parameter's width (refused, never wrapped). Parsing 'H'
// prints "<token> --> 0x<value>" through diag.
bool hbaapi_parse_param(char letter, const char* token, HbaParam& param, const Diag* diag);

// The "NI_L<n>" text passed for a letter that names no number or text.
std::string hbaapi_unparsed_text(char letter);

// Size of the zero-filled output buffer of a letter; 0 for a letter that has
// none ('C' writes into the reply itself).
std::size_t hbaapi_output_size(char letter);

// An output buffer of the letter, zero-filled, or null when the letter has
// no buffer. A list output ('M', 'B') tells the library how many entries it
// holds.
std::unique_ptr<unsigned char[]> hbaapi_alloc_output(char letter);

}  // namespace tavro
