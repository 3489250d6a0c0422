// Component arithmetic on object identifiers written as dotted text.
#pragma once

namespace tavro {

// Components up to the first blank or the end: every "." adds one, and a
// first character other than "." or a blank starts one. "" and " x" have none.
int oid_component_count(const char* text);

// Three-way comparison of the first n components of text and suffix: 0 when
// equal, otherwise +k or -k where k (from 1) is the first component that
// differs, positive when text sorts after suffix. Shorter components sort
// first, equal lengths compare character by character. A component ends at
// the next "." anywhere further on, else at the next blank, else at the end.
int oid_compare(const char* text, const char* suffix, int n);

}  // namespace tavro
