// Bounded access to a message data area: little-endian 32-bit integers,
// 8-byte WWNs and zero-terminated texts at fixed offsets. Reads outside the
// area give zeros, writes outside it are dropped, so a short area from the
// program can never make the simulator write past its end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

using Wwn = std::array<std::uint8_t, 8>;

// 16 hexadecimal digits, first digit = high nibble of the first byte.
std::string wwn_text(const Wwn& wwn);
// Reads 16 hexadecimal digits; ':' separators are allowed. False on anything else.
bool parse_wwn(std::string_view text, Wwn& out);

struct Area {
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;

  std::uint32_t get32(std::size_t offset) const;
  void put32(std::size_t offset, std::uint32_t value);
  void put8(std::size_t offset, std::uint8_t value);
  Wwn get_wwn(std::size_t offset) const;
  void put_wwn(std::size_t offset, const Wwn& wwn);
  // Text up to its zero byte, at most max_chars characters, never past the end.
  std::string get_text(std::size_t offset, std::size_t max_chars) const;
  // Writes the text and its terminating zero into at most field_size bytes
  // (0 = up to the end of the area), cutting the text to fit.
  void put_text(std::size_t offset, std::string_view text, std::size_t field_size = 0);
  void put_bytes(std::size_t offset, const std::uint8_t* data, std::size_t count);
};

}  // namespace sim
