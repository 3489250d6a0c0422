// The message library's interface and the driver's message rules, stated on
// the simulator's side: the handler's type, the header of a delivered
// message, the codes of its calls, the data-area size of each request and
// where a request carries its identifier.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

extern "C" {
using Handler = void (*)(int kind, void* message);
}

inline constexpr std::size_t kNumberOffset = 80;  // 32-bit message number
inline constexpr std::size_t kDataOffset = 84;    // data pointer, unaligned
inline constexpr int kDriverErrorKind = 86;       // the pointer carries a value
inline constexpr int kRegistered = 1;

// The request number again, in every port and node attribute request.
inline constexpr std::size_t kFcphNumberEcho = 12;

inline bool is_fcph(std::uint32_t number) {
  return number >= 0x15000000u && number <= 0x15FFFFFFu;
}

// Bytes the driver expects in a request's data area; 0 for a number it does
// not know (answered with the data unchanged, or not at all).
inline std::size_t request_size(std::uint32_t number) {
  if (is_fcph(number) || number == 0x0B00001Eu) return 256;
  if (number == 0x1E00000Au || number == 0x1E00000Bu) return 1024;
  if (number >= 0x1E00000Cu && number <= 0x1E000011u) return 256;
  if (number == 0x14000014u) return 512;
  if (number == 0x14000015u || number == 0x14000016u) return 256;
  return 0;
}

// Offset of the request identifier a request carries, or -1.
inline long request_id_offset(std::uint32_t number) {
  if (number == 0x0B00001Eu) return 12;
  if (number >= 0x1E00000Au && number <= 0x1E000011u) return 0;
  if (number == 0x14000015u || number == 0x14000016u) return 0;
  return -1;
}

}  // namespace sim
