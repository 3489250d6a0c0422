// The message library's interface and the driver's message rules, stated on
// this library's side: the handler's type, the header of a delivered message,
// the data-area size of each request, where a request carries its identifier,
// and where each answer carries its status word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qlinux {

extern "C" {
using Handler = void (*)(int kind, void* message);
}

inline constexpr std::size_t kNumberOffset = 80;  // 32-bit message number
inline constexpr std::size_t kDataOffset = 84;    // data pointer, unaligned
inline constexpr std::size_t kMessageSize = 96;
inline constexpr int kMessageKind = 1;
inline constexpr int kRegistered = 1;
inline constexpr std::size_t kFcphNumberEcho = 12;  // port and node requests repeat their number

inline constexpr std::uint32_t kLxsObjectRequest = 0x0B00001E;

// Status words of the answers.
inline constexpr std::uint32_t kAnswered = 0;
inline constexpr std::uint32_t kUnknown = 2;       // no such adapter, port, node or index
inline constexpr std::uint32_t kNotAvailable = 6;  // the kernel does not tell this value
inline constexpr std::uint32_t kNotSupported = 7;  // a write the transport cannot make
inline constexpr std::uint32_t kLxsFailed = 2;     // LXS answers: "Operation failed"

inline bool is_fcph(std::uint32_t n) {
  return n >= 0x15000000u && n <= 0x15FFFFFFu;
}

inline std::uint32_t response_number(std::uint32_t request) {
  return is_fcph(request) ? request + 1 : request | 0x80000000u;
}

// Bytes of a request's data area; 0 for a number the driver does not know.
inline std::size_t request_size(std::uint32_t n) {
  if (is_fcph(n) || n == kLxsObjectRequest) return 256;
  if (n == 0x1E00000Au || n == 0x1E00000Bu) return 1024;
  if (n >= 0x1E00000Cu && n <= 0x1E000011u) return 256;
  if (n == 0x14000014u) return 512;
  if (n == 0x14000015u || n == 0x14000016u) return 256;
  return 0;
}

// Offset of the request identifier, or -1.
inline long request_id_offset(std::uint32_t n) {
  if (n == kLxsObjectRequest) return 12;
  if (n >= 0x1E00000Au && n <= 0x1E000011u) return 0;
  if (n == 0x14000015u || n == 0x14000016u) return 0;
  return -1;
}

// Offset of the answer's status word.
inline std::size_t status_offset(std::uint32_t n) {
  if (is_fcph(n) || n == kLxsObjectRequest) return 16;
  if (n == 0x1E00000Au) return 8;
  if (n == 0x1E00000Bu) return 72;
  if (n == 0x14000014u) return 508;
  return 252;
}

// Bounded access to a data area: reads outside give zeros, writes outside are dropped.
struct Area {
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;

  std::uint32_t get32(std::size_t at) const {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4 && at + i < size; ++i)
      v |= std::uint32_t{bytes[at + i]} << (8 * i);
    return v;
  }
  void put32(std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4 && at + i < size; ++i) bytes[at + i] = (v >> (8 * i)) & 0xFF;
  }
  // A WWN in transmission order: the first byte is the most significant.
  std::uint64_t get_wwn(std::size_t at) const {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | (at + i < size ? bytes[at + i] : 0);
    return v;
  }
  void put_wwn(std::size_t at, std::uint64_t v) {
    for (std::size_t i = 0; i < 8 && at + i < size; ++i) bytes[at + i] = (v >> (56 - 8 * i)) & 0xFF;
  }
  // Text and its zero byte; false (nothing written) when it does not fit in
  // field bytes (0 = up to the end of the area).
  bool put_text(std::size_t at, std::string_view text, std::size_t field = 0) {
    std::size_t room = at < size ? size - at : 0;
    if (field != 0 && field < room) room = field;
    if (text.size() >= room) return false;
    std::memcpy(bytes + at, text.data(), text.size());
    bytes[at + text.size()] = 0;
    return true;
  }
  std::string get_text(std::size_t at, std::size_t max) const {
    std::string out;
    for (std::size_t i = at; i < size && out.size() < max && bytes[i]; ++i) out += char(bytes[i]);
    return out;
  }
};

}  // namespace qlinux
