// Tokenizer and the small text and byte helpers shared by the daemon, the
// driver channel and the object handlers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

class Diag;

// Blank, comma, semicolon, vertical bar, tab, carriage return, line feed.
inline constexpr const char* kStandardSeparators = " ,;|\t\r\n";

// Splits text in place into at most max tokens; a double quote outside a token
// opens a quoted token that runs to the next double quote. With Debug bit 0x4
// each token is traced through diag (when given).
int string2toks(char* text, const char* separators, char** slots, int max,
                const Diag* diag = nullptr);
inline int string2toks(char* text, char** slots, int max, const Diag* diag = nullptr) {
  return string2toks(text, kStandardSeparators, slots, max, diag);
}

// Copies the characters of text before its n-th "." (stopping at a blank or
// the end) into out, which holds cap bytes; n = 0 leaves out untouched.
char* oid_head(const char* text, char* out, int n, std::size_t cap);
// The position just after the n-th "." of text, stopping early at a blank or
// the end; n = 0 returns text itself.
const char* oid_skip(const char* text, int n);

// Reads n bytes from 2n hexadecimal digits, high digit first. A digit that is
// not hexadecimal, or missing because the text ended, counts as 0.
void hex_to_bytes(const char* text, std::uint8_t* out, int n);
inline void hex_to_wwn(const char* text, std::uint8_t out[8]) {
  hex_to_bytes(text, out, 8);
}

// Byte-order helpers over whole units: (length + 1) / 2 and (length + 3) / 4
// units, so data must hold that many bytes. Nothing happens for length <= 0.
void swap_bytes16(void* data, int length);
void swap_bytes32(void* data, int length);
// Exchanges the two 16-bit halves of the 32-bit word at data.
void swap_words32(void* data, int length);

// Cuts text at its first carriage return or line feed.
void strip_line_end(char* text);

// Copies length bytes of text into out with & < > and " replaced by their
// HTML entities, as far as they fit into cap bytes (no terminator, no entity
// cut). Returns the bytes written; *used tells how many bytes of text went in.
std::size_t html_escape(const char* text, std::size_t length, char* out, std::size_t cap,
                        std::size_t* used);

}  // namespace tavro
