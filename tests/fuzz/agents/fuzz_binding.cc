// One variable binding through the frame's conversions: name bytes and value
// bytes in, as the service would pass them, through name text, row lookup,
// the instance's shape, instance decoding, value text and back to a name and
// a typed value.
//
// Input: byte 0 the request (even GET, odd SET), byte 1 the value's ASN
// type, byte 2 the name length n; then n sub-identifiers of one byte each
// (values of 200 and up stand for large numbers), then the value bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "agents/frame/adapter_table.h"
#include "agents/frame/varbind_text.h"
#include "base/text.h"
#include "objects/oid_table.h"
#include "objects/oid_text.h"

namespace {

constexpr const char* kPrefix = ".1.3.6.1.4.1.48217.3.";
constexpr std::uint32_t kPrivate[] = {1, 3, 6, 1, 4, 1, 48217, 3};

std::uint32_t sub_identifier(std::uint8_t byte) {
  return byte < 200 ? byte : 0xFFFFFFFFu - (byte - 200u) * 0x01010101u;
}

void exercise(const tavro::oid_entry& row, const char* instance) {
  char buffer[4097];
  std::snprintf(buffer, sizeof buffer, "%s", instance);
  tavro::decode_instance(buffer, sizeof buffer, row.index_kinds);
  if (std::strlen(buffer) >= sizeof buffer) __builtin_trap();
  for (std::int32_t type = 0; type < 16; ++type) {
    snmp_value value{};
    tavro::set_value_from_text(value, buffer, type);
    tavro::free_value(value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const bool is_set = (data[0] & 1) != 0;
  std::size_t n = data[2];
  if (3 + n > size) n = size - 3;
  std::vector<std::uint32_t> ids(kPrivate, kPrivate + 8);
  for (std::size_t k = 0; k < n; ++k) ids.push_back(sub_identifier(data[3 + k]));
  std::vector<std::uint8_t> bytes(data + 3 + n, data + size);

  snmp_varbind binding{};
  binding.name = {static_cast<std::uint32_t>(ids.size()), ids.data()};
  binding.value.asnType = data[1];
  binding.value.asnValue.string = {bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0};
  if (data[1] == snmp::kObjectIdentifier) {
    binding.value.asnValue.object = {static_cast<std::uint32_t>(n), ids.data() + 8};
  } else if (data[1] == snmp::kInteger || data[1] == snmp::kGauge) {
    std::uint32_t number = 0;
    if (!bytes.empty()) std::memcpy(&number, bytes.data(), bytes.size() < 4 ? bytes.size() : 4);
    binding.value.asnValue.unsigned32 = number;
  }

  char text[4097] = {};
  if (!tavro::name_to_text(binding.name, text, sizeof text)) return 0;
  if (is_set) {
    std::size_t used = std::strlen(text);
    std::snprintf(text + used, sizeof text - used, " ");
    tavro::value_to_text(binding.value, text, sizeof text);
  }
  const char* suffix = tavro::oid_skip(text, tavro::oid_component_count(kPrefix));
  const tavro::oid_entry* table = is_set ? tavro::oid_set_table : tavro::oid_get_table;
  if (const tavro::oid_entry* row = tavro::find_oid_row(table, suffix)) {
    exercise(*row, tavro::oid_skip(suffix, row->components));
    std::size_t at = 8 + static_cast<std::size_t>(row->components);
    if (at <= ids.size()) {
      tavro::instance_shape_fits(tavro::kinds_of(row->index_kinds), ids.data() + at,
                                 ids.size() - at);
    }
  }
  return 0;
}
