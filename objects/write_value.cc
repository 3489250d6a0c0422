#include "objects/write_value.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "objects/instance_text.h"
#include "objects/value_format.h"

namespace tavro {

bool parse_decimal(const char* text, std::int64_t low, std::int64_t high, std::int64_t* out) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+' || *p == '-') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (*end != '\0' || errno == ERANGE || value < low || value > high) return false;
  *out = value;
  return true;
}

namespace {

bool all_hex(const char* text, std::size_t length) {
  if (std::strlen(text) != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

}  // namespace

bool is_wwn_text(const char* text) {
  return all_hex(text, 16);
}

bool instance_wwns_ok(const InstanceText& instance, const char* kinds) {
  for (int k = 0; kinds[k] != '\0' && kinds[k] != ' '; ++k) {
    bool wwn = kinds[k] == 'P' || kinds[k] == 'N' || kinds[k] == 'R';
    if (wwn && !is_wwn_text(instance.component(k))) return false;
  }
  return true;
}

bool parse_field32(const char* text, std::uint32_t* out) {
  std::int64_t value = 0;
  if (!parse_decimal(text, std::numeric_limits<std::int32_t>::min(),
                     std::numeric_limits<std::uint32_t>::max(), &value)) {
    return false;
  }
  *out = static_cast<std::uint32_t>(value);
  return true;
}

bool lxs_value_fits(const char* text, std::int32_t type, std::int32_t count) {
  std::int64_t ignored = 0;
  std::size_t length = std::strlen(text);
  switch (type & 0xF) {
    case kValueText:
      return length <= static_cast<std::size_t>(count > 0 ? count : 0);
    case kValueBytes:
      return length <= 2 * static_cast<std::size_t>(count > 0 ? count : 0);
    case kValueSigned:
      return parse_decimal(text, std::numeric_limits<std::int32_t>::min(),
                           std::numeric_limits<std::int32_t>::max(), &ignored);
    case kValueU8:
      return parse_decimal(text, 0, 0xFF, &ignored);
    case kValueU16:
      return parse_decimal(text, 0, 0xFFFF, &ignored);
    case kValueSigned64:
      return parse_decimal(text, std::numeric_limits<std::int64_t>::min(),
                           std::numeric_limits<std::int64_t>::max(), &ignored);
    default:
      return parse_decimal(text, 0, std::numeric_limits<std::uint32_t>::max(), &ignored);
  }
}

}  // namespace tavro
