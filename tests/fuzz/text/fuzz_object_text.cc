// The texts of an object request: OID comparison and component counting,
// instance parsing, WWN digits and the value checks of a write. The first
// byte picks the parser and, where one is needed, a count.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "objects/instance_text.h"
#include "objects/oid_text.h"
#include "objects/write_value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  int pick = data[0] % 6;
  int n = data[0] / 6;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  std::string other;
  if (auto bar = text.find('|'); bar != std::string::npos) {
    other = text.substr(bar + 1);
    text.resize(bar);
  }
  std::uint8_t wwn[8];
  std::uint32_t field;
  std::int64_t number;
  switch (pick) {
    case 0:
      tavro::oid_component_count(text.c_str());
      tavro::oid_compare(text.c_str(), other.c_str(), n);
      break;
    case 1: {
      tavro::InstanceText instance(text.c_str());
      for (int k = 0; k <= instance.count(); ++k) instance.component(k);
      break;
    }
    case 2:
      tavro::hex_to_wwn(text.c_str(), wwn);
      break;
    case 3:
      tavro::parse_decimal(text.c_str(), -1000, 1000, &number);
      tavro::parse_field32(text.c_str(), &field);
      break;
    default:
      tavro::lxs_value_fits(text.c_str(), n % 16, pick == 4 ? n : n * 64);
      break;
  }
  return 0;
}
