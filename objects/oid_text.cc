#include "objects/oid_text.h"

#include <cstring>

namespace tavro {
namespace {

// One component: [begin, end) and where the next one starts (null when none).
struct Component {
  const char* begin;
  const char* end;
  const char* next;
};

Component component_at(const char* p) {
  if (const char* dot = std::strchr(p, '.')) return {p, dot, dot + 1};
  const char* end = std::strchr(p, ' ');
  if (end == nullptr) end = p + std::strlen(p);
  return {p, end, nullptr};
}

int compare_components(const Component& a, const Component& b) {
  std::ptrdiff_t la = a.end - a.begin;
  std::ptrdiff_t lb = b.end - b.begin;
  if (la != lb) return la < lb ? -1 : 1;
  int c = std::memcmp(a.begin, b.begin, static_cast<std::size_t>(la));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int oid_component_count(const char* text) {
  if (text == nullptr || *text == '\0' || *text == ' ') return 0;
  int count = *text == '.' ? 0 : 1;
  for (const char* p = text; *p != '\0' && *p != ' '; ++p) {
    if (*p == '.') ++count;
  }
  return count;
}

int oid_compare(const char* text, const char* suffix, int n) {
  if (n <= 0) return 0;
  if (text == nullptr || *text == '\0') return -1;
  if (suffix == nullptr || *suffix == '\0') return 1;
  const char* t = text;
  const char* s = suffix;
  for (int k = 1; k <= n; ++k) {
    if (s == nullptr) return k;
    if (t == nullptr) return -k;
    Component ct = component_at(t);
    Component cs = component_at(s);
    if (int c = compare_components(ct, cs); c != 0) return c * k;
    t = ct.next;
    s = cs.next;
  }
  return 0;
}

}  // namespace tavro
