// A private copy of an object's instance text, split into its components
// (up to the first blank) and the value that follows the blank, so that a
// handler may reuse the reply buffer that held it.
#pragma once

#include "base/message.h"

namespace tavro {

class InstanceText {
 public:
  static constexpr int kMaxComponents = 8;

  explicit InstanceText(const char* text);

  int count() const { return count_; }
  // Component k (from 0), or "" when the instance has fewer.
  const char* component(int k) const { return k >= 0 && k < count_ ? parts_[k] : ""; }
  // The text after the first blank, or "" when there is none.
  const char* value() const { return value_; }
  bool has_value() const { return has_value_; }

 private:
  char copy_[kMessageSize + 1];
  const char* parts_[kMaxComponents] = {};
  int count_ = 0;
  const char* value_ = "";
  bool has_value_ = false;
};

}  // namespace tavro
