#include "sim/wire.h"

#include <algorithm>
#include <cstring>

namespace sim {

std::string wwn_text(const Wwn& wwn) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(16);
  for (std::uint8_t b : wwn) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_wwn(std::string_view text, Wwn& out) {
  Wwn wwn{};
  std::size_t digits = 0;
  for (char c : text) {
    if (c == ':') continue;
    int d = hex_digit(c);
    if (d < 0 || digits >= 16) return false;
    wwn[digits / 2] = static_cast<std::uint8_t>(wwn[digits / 2] | (digits % 2 ? d : d << 4));
    ++digits;
  }
  if (digits != 16) return false;
  out = wwn;
  return true;
}

std::uint32_t Area::get32(std::size_t offset) const {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    if (offset + i < size) value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

void Area::put32(std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    if (offset + i < size) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void Area::put8(std::size_t offset, std::uint8_t value) {
  if (offset < size) bytes[offset] = value;
}

Wwn Area::get_wwn(std::size_t offset) const {
  Wwn wwn{};
  for (std::size_t i = 0; i < wwn.size(); ++i) {
    if (offset + i < size) wwn[i] = bytes[offset + i];
  }
  return wwn;
}

void Area::put_wwn(std::size_t offset, const Wwn& wwn) {
  put_bytes(offset, wwn.data(), wwn.size());
}

std::string Area::get_text(std::size_t offset, std::size_t max_chars) const {
  std::string text;
  for (std::size_t i = offset; i < size && text.size() < max_chars && bytes[i] != 0; ++i) {
    text.push_back(static_cast<char>(bytes[i]));
  }
  return text;
}

void Area::put_text(std::size_t offset, std::string_view text, std::size_t field_size) {
  if (offset >= size) return;
  std::size_t room = size - offset;
  if (field_size != 0) room = std::min(room, field_size);
  std::size_t n = std::min(text.size(), room - 1);
  std::memcpy(bytes + offset, text.data(), n);
  bytes[offset + n] = 0;
}

void Area::put_bytes(std::size_t offset, const std::uint8_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (offset + i < size) bytes[offset + i] = data[i];
  }
}

}  // namespace sim
