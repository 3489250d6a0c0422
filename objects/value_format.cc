#include "objects/value_format.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tavro {
namespace {

// Appends to a bounded buffer; text that does not fit is cut.
class Output {
 public:
  Output(char* out, std::size_t cap) : out_(out), cap_(cap) {
    if (cap_ > 0) out_[0] = '\0';
  }

  template <typename... Args>
  void print(const char* format, Args... args) {
    if (length_ + 1 >= cap_) return;
    int n = std::snprintf(out_ + length_, cap_ - length_, format, args...);
    if (n < 0) return;
    std::size_t room = cap_ - length_ - 1;
    length_ += static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
  }

  void drop_last(char c) {
    if (length_ > 0 && out_[length_ - 1] == c) out_[--length_] = '\0';
  }

  std::size_t length() const { return length_; }

 private:
  char* out_;
  std::size_t cap_;
  std::size_t length_ = 0;
};

std::uint64_t read_le(const unsigned char* p, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = size; i > 0; --i) value = (value << 8) | p[i - 1];
  return value;
}

void format_element(Output& out, int code, const unsigned char* p) {
  switch (code) {
    case kValueSigned:
      out.print("%d:", static_cast<std::int32_t>(read_le(p, 4)));
      break;
    case kValueUnsigned:
      out.print("%u:", static_cast<unsigned>(read_le(p, 4)));
      break;
    case kValueBytes:
      out.print("%02X", static_cast<unsigned>(p[0]));
      break;
    case kValueU8:
      out.print("%u:", static_cast<unsigned>(p[0]));
      break;
    case kValueU16:
      out.print("%u:", static_cast<unsigned>(read_le(p, 2)));
      break;
    case kValueHex8:
      out.print("%08X:", static_cast<unsigned>(read_le(p, 4)));
      break;
    case kValueHex6:
      out.print("%06X:", static_cast<unsigned>(read_le(p, 4)));
      break;
    case kValueSigned64:
      out.print("%" PRId64 ":", static_cast<std::int64_t>(read_le(p, 8)));
      break;
    case kValueWideHex:
      out.print("%16X:", static_cast<unsigned>(read_le(p, 4)));
      break;
  }
}

}  // namespace

std::size_t value_element_size(int type) {
  switch (type & 0xF) {
    case kValueSigned:
    case kValueUnsigned:
    case kValueHex8:
    case kValueHex6:
    case kValueWideHex:
      return 4;
    case kValueBytes:
    case kValueText:
    case kValueU8:
      return 1;
    case kValueU16:
      return 2;
    case kValueSigned64:
      return 8;
    default:
      return 0;
  }
}

std::size_t format_value(char* out, std::size_t cap, const void* data, std::size_t data_bytes,
                         int count, int type) {
  Output text(out, cap);
  const int code = type & 0xF;
  const std::size_t size = value_element_size(code);
  if (size == 0) {
    text.print("%sUnknown oid->type %d", "Error: ", type);
    return text.length();
  }
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t elements = count > 0 && bytes != nullptr ? static_cast<std::size_t>(count) : 0;
  if (elements > data_bytes / size) elements = data_bytes / size;
  if (code == kValueText) {
    std::size_t length = 0;
    while (length < elements && bytes[length] != '\0') ++length;
    text.print("%.*s", static_cast<int>(length), reinterpret_cast<const char*>(bytes));
    return text.length();
  }
  for (std::size_t i = 0; i < elements; ++i) format_element(text, code, bytes + i * size);
  text.drop_last(':');
  return text.length();
}

}  // namespace tavro
