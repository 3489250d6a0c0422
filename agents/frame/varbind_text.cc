#include "agents/frame/varbind_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

#include "objects/oid_table.h"

namespace tavro {
namespace {

// Reads instance sub-identifiers one after the other; p stays on the "."
// before the next one, so what is left is appended with its separator.
class Components {
 public:
  explicit Components(const char* text) : p_(text), first_(true) {}

  std::uint32_t next(int max_digits = 10) {
    const char* q = p_;
    if (!first_) {
      if (*q != '.') return 0;
      ++q;
    }
    if (!std::isdigit(static_cast<unsigned char>(*q))) return 0;
    first_ = false;
    std::uint64_t value = 0;
    for (int n = 0; n < max_digits && std::isdigit(static_cast<unsigned char>(*q)); ++n, ++q) {
      value = value * 10 + static_cast<std::uint64_t>(*q - '0');
    }
    while (std::isdigit(static_cast<unsigned char>(*q))) ++q;
    p_ = q;
    return static_cast<std::uint32_t>(value);
  }
  const char* rest() const { return p_; }

 private:
  const char* p_;
  bool first_;
};

class Writer {
 public:
  Writer(char* out, std::size_t cap) : out_(out), cap_(cap) { out_[0] = '\0'; }
  template <typename Arg>
  void add(const char* format, Arg arg) {
    if (used_ + 1 >= cap_) return;
    int n = std::snprintf(out_ + used_, cap_ - used_, format, arg);
    if (n > 0) used_ = std::min(cap_ - 1, used_ + static_cast<std::size_t>(n));
  }
  void bytes(const std::uint8_t* data, std::size_t length) {
    std::size_t n = std::min(length, cap_ - 1 - used_);
    if (data == nullptr || n == 0) return;
    std::memcpy(out_ + used_, data, n);
    used_ += n;
    out_[used_] = '\0';
  }

 private:
  char* out_;
  std::size_t cap_;
  std::size_t used_ = 0;
};

// False when a sub-identifier that stands for one byte or character is
// above 255: such an instance names nothing.
bool decode_one(char kind, Components& in, Writer& out) {
  bool fits = true;
  auto byte = [&](int max_digits) {
    std::uint32_t value = in.next(max_digits);
    fits = fits && value <= 0xFFu;
    return value & 0xFFu;
  };
  switch (kind) {
    case 'A': {
      std::uint32_t n = in.next(3);
      for (std::uint32_t k = 0; k < n && k < 255; ++k) {
        std::uint32_t code = byte(3);
        if (code != 0) out.add("%c", static_cast<char>(code));
      }
      break;
    }
    case 'I':
      out.add("%u", in.next());
      break;
    case 'N':
    case 'P':
    case 'R':
    case 'U': {
      int bytes = kind == 'U' ? 16 : 8;
      for (int k = 0; k < bytes; ++k) out.add("%02X", byte(10));
      break;
    }
    default:
      break;
  }
  return fits;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// Leading blanks, a sign, digits; no digits is 0. False when the number
// leaves [low, high].
bool read_decimal(const char* text, std::int64_t low, std::int64_t high, std::int64_t* out) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  std::int64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    value = value * 10 + (*text - '0');
    if (value > (std::int64_t{1} << 33)) return false;
  }
  if (negative) value = -value;
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

int set_octets(snmp_value& value, const std::uint8_t* bytes, std::size_t length) {
  if (length > std::numeric_limits<std::uint32_t>::max() / 2) return 5;
  auto* stream = static_cast<std::uint8_t*>(SnmpUtilMemAlloc(static_cast<std::uint32_t>(length)));
  if (stream == nullptr) return 5;
  if (length > 0) std::memcpy(stream, bytes, length);
  free_value(value);
  value.asnType = snmp::kOctetString;
  value.asnValue.string = {stream, static_cast<std::uint32_t>(length), 1};
  return 0;
}

int set_hex_octets(snmp_value& value, const char* text) {
  std::size_t length = (std::strlen(text) + 1) / 2;
  auto* stream = static_cast<std::uint8_t*>(SnmpUtilMemAlloc(static_cast<std::uint32_t>(length)));
  if (stream == nullptr) return 5;
  for (std::size_t k = 0; k < length; ++k) {
    char high = text[2 * k];
    char low = high != '\0' ? text[2 * k + 1] : '\0';
    stream[k] = static_cast<std::uint8_t>(hex_digit(high) << 4 | hex_digit(low));
  }
  free_value(value);
  value.asnType = snmp::kOctetString;
  value.asnValue.string = {stream, static_cast<std::uint32_t>(length), 1};
  return 0;
}

bool is_octets(std::uint8_t type) {
  return type == snmp::kOctetString || type == snmp::kIpAddress || type == snmp::kOpaque ||
         type == snmp::kSequence;
}

}  // namespace

bool name_to_text(const snmp_oid& name, char* out, std::size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  std::size_t used = 0;
  for (std::uint32_t k = 0; k < name.idLength; ++k) {
    int n = std::snprintf(out + used, cap - used, ".%u", name.ids[k]);
    if (n < 0 || static_cast<std::size_t>(n) >= cap - used) {
      out[used] = '\0';
      return false;
    }
    used += static_cast<std::size_t>(n);
  }
  return true;
}

bool decode_instance(char* text, std::size_t cap, const char* kinds) {
  if (cap == 0) return false;
  char decoded[4097];
  std::size_t room = std::min(cap, sizeof decoded);
  Writer out(decoded, room);
  Components in(text);
  bool fits = true;
  for (int k = 0; k < 8 && kinds[k] != '\0' && kinds[k] != ' '; ++k) {
    if (k > 0) out.add("%s", ".");
    fits = decode_one(kinds[k], in, out) && fits;
  }
  out.add("%s", in.rest());
  std::snprintf(text, cap, "%s", decoded);
  return fits;
}

int set_value_from_text(snmp_value& value, const char* text, std::int32_t type) {
  std::int64_t number = 0;
  switch (type & 0x0F) {
    case 1:
    case 6:
      if (!read_decimal(text, std::numeric_limits<std::int32_t>::min(),
                        std::numeric_limits<std::int32_t>::max(), &number)) {
        return 5;
      }
      free_value(value);
      value.asnType = snmp::kInteger;
      value.asnValue.number = static_cast<std::int32_t>(number);
      return 0;
    case 2:
    case 7:
      if (!read_decimal(text, 0, std::numeric_limits<std::uint32_t>::max(), &number)) return 5;
      free_value(value);
      value.asnType = snmp::kGauge;
      value.asnValue.unsigned32 = static_cast<std::uint32_t>(number);
      return 0;
    case 3:
    case 5:
    case 8:
      return set_hex_octets(value, text);
    case 4:
      return set_octets(value, reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
    default:
      return 0;
  }
}

void free_value(snmp_value& value) {
  if (is_octets(value.asnType) && value.asnValue.string.dynamic) {
    SnmpUtilMemFree(value.asnValue.string.stream);
  } else if (value.asnType == snmp::kObjectIdentifier) {
    SnmpUtilOidFree(&value.asnValue.object);
  }
  value = snmp_value{};
  value.asnType = snmp::kNull;
}

void value_to_text(const snmp_value& value, char* out, std::size_t cap) {
  std::size_t used = std::strlen(out);
  if (used + 1 >= cap) return;
  Writer w(out + used, cap - used);
  const snmp_octets& s = value.asnValue.string;
  switch (value.asnType) {
    case snmp::kInteger:
      w.add("%d", value.asnValue.number);
      break;
    case snmp::kOctetString:
      w.bytes(s.stream,
              s.stream != nullptr ? strnlen(reinterpret_cast<const char*>(s.stream), s.length) : 0);
      break;
    case snmp::kObjectIdentifier:
      for (std::uint32_t k = 0; k < value.asnValue.object.idLength; ++k) {
        w.add(".%u", value.asnValue.object.ids[k]);
      }
      break;
    case snmp::kSequence:
    case snmp::kOpaque:
      // Bytes as they are; the text ends at a zero byte among them.
      w.bytes(s.stream, s.stream != nullptr ? s.length : 0);
      break;
    case snmp::kIpAddress:
      for (std::uint32_t k = 0; s.stream != nullptr && k < s.length; ++k) {
        w.add(k == 0 ? "%u" : ".%u", s.stream[k]);
      }
      break;
    case snmp::kCounter:
    case snmp::kGauge:
    case snmp::kTimeTicks:
      w.add("%u", value.asnValue.unsigned32);
      break;
    default:
      break;
  }
}

}  // namespace tavro
