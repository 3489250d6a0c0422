#include "base/text.h"

#include <cstring>
#include <utility>

#include "base/diag.h"

namespace tavro {

int string2toks(char* text, const char* separators, char** slots, int max, const Diag* diag) {
  int count = 0;
  bool inside = false;
  for (char* p = text; *p != '\0' && count <= max; ++p) {
    if (!inside && *p == '"') {
      if (count >= max) break;
      slots[count++] = p + 1;
      char* close = std::strchr(p + 1, '"');
      if (close == nullptr) break;
      *close = '\0';
      p = close;
      if (count == max) break;
    } else if (std::strchr(separators, *p) != nullptr) {
      *p = '\0';
      inside = false;
      if (count == max) break;
    } else if (!inside) {
      if (count >= max) break;
      slots[count++] = p;
      inside = true;
    }
  }
  if (diag != nullptr && diag->on(0x4)) {
    for (int i = 0; i < count; ++i) diag->print("string2toks(%03d) %s\n", i, slots[i]);
  }
  return count;
}

char* oid_head(const char* text, char* out, int n, std::size_t cap) {
  if (n == 0 || cap == 0) return out;
  std::size_t len = 0;
  int dots = 0;
  for (const char* p = text; *p != '\0' && *p != ' '; ++p) {
    if (*p == '.' && ++dots == n) break;
    if (len + 1 < cap) out[len++] = *p;
  }
  out[len] = '\0';
  return out;
}

const char* oid_skip(const char* text, int n) {
  const char* p = text;
  for (int dots = 0; dots < n; ++p) {
    if (*p == '\0' || *p == ' ') return p;
    if (*p == '.') ++dots;
  }
  return p;
}

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

void hex_to_bytes(const char* text, std::uint8_t* out, int n) {
  bool ended = false;
  auto next = [&]() {
    if (ended || *text == '\0') {
      ended = true;
      return 0;
    }
    return hex_digit(*text++);
  };
  for (int i = 0; i < n; ++i) {
    int high = next();
    int low = next();
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
}

void swap_bytes16(void* data, int length) {
  auto* b = static_cast<std::uint8_t*>(data);
  for (int unit = 0; unit < (length + 1) / 2; ++unit) std::swap(b[2 * unit], b[2 * unit + 1]);
}

void swap_bytes32(void* data, int length) {
  auto* b = static_cast<std::uint8_t*>(data);
  for (int unit = 0; unit < (length + 3) / 4; ++unit) {
    std::swap(b[4 * unit], b[4 * unit + 3]);
    std::swap(b[4 * unit + 1], b[4 * unit + 2]);
  }
}

void swap_words32(void* data, int length) {
  if (length <= 0) return;
  auto* b = static_cast<std::uint8_t*>(data);
  std::swap(b[0], b[2]);
  std::swap(b[1], b[3]);
}

void strip_line_end(char* text) {
  text[std::strcspn(text, "\r\n")] = '\0';
}

std::size_t html_escape(const char* text, std::size_t length, char* out, std::size_t cap,
                        std::size_t* used) {
  std::size_t in = 0;
  std::size_t n = 0;
  for (; in < length; ++in) {
    const char* entity = nullptr;
    switch (text[in]) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = "&quot;";
        break;
      default:
        break;
    }
    std::size_t size = entity != nullptr ? std::strlen(entity) : 1;
    if (n + size > cap) break;
    if (entity != nullptr) {
      std::memcpy(out + n, entity, size);
    } else {
      out[n] = text[in];
    }
    n += size;
  }
  if (used != nullptr) *used = in;
  return n;
}

}  // namespace tavro
