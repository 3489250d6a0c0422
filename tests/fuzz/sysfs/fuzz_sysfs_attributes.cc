// The text of one sysfs attribute through every parser of the kernel's formats.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sysfs/parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  sysfs::parse_wwn(text);
  sysfs::parse_counter(text);
  sysfs::parse_port_id(text);
  sysfs::parse_decimal(text);
  sysfs::parse_speed(text);
  sysfs::parse_classes(text);
  sysfs::parse_roles(text);
  sysfs::parse_port_state(text);
  sysfs::parse_port_type(text);
  return 0;
}
