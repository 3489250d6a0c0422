#include "objects/instance_text.h"

#include <cstdio>
#include <cstring>

namespace tavro {

InstanceText::InstanceText(const char* text) {
  std::snprintf(copy_, sizeof copy_, "%s", text);
  if (char* blank = std::strchr(copy_, ' ')) {
    *blank = '\0';
    value_ = blank + 1;
    has_value_ = true;
  }
  if (copy_[0] == '\0') return;
  char* p = copy_;
  while (count_ < kMaxComponents) {
    parts_[count_++] = p;
    char* dot = std::strchr(p, '.');
    if (dot == nullptr) break;
    *dot = '\0';
    p = dot + 1;
  }
}

}  // namespace tavro
