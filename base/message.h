// Size of the per-connection message buffer: a request is at most this many
// bytes, and replies built in the buffer are at most this many bytes too. The
// buffer holds one more byte for the terminating zero.
#pragma once

#include <cstddef>

namespace tavro {

inline constexpr std::size_t kMessageSize = 4096;

}  // namespace tavro
