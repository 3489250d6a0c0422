// Parsers of the kernel's attribute formats. Each takes the file's text
// (its line end already cut) and answers empty for a value the kernel marks
// as not set or not available, and for text it does not write.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "sysfs/model.h"

namespace sysfs {

// "0x%llx", unpadded; all ones = never set.
std::optional<Wwn> parse_wwn(std::string_view text);
// Statistics "0x%llx"; all ones = not available.
std::optional<std::uint64_t> parse_counter(std::string_view text);
// "0x%06x"; above 24 bits refused.
std::optional<std::uint32_t> parse_port_id(std::string_view text);
// "%d" / "%u", optionally followed by " bytes"; -1 and values beyond 32 bits empty.
std::optional<std::uint32_t> parse_decimal(std::string_view text);
// "N Gbit" (the first of a list) -> N; "Not Negotiated" -> 0; "unknown" empty.
std::optional<std::uint32_t> parse_speed(std::string_view text);
// "Class 2, Class 3" -> bit n per class n; "unspecified" -> 0.
std::optional<std::uint32_t> parse_classes(std::string_view text);
// "FCP Target, FCP Initiator" -> role bits; "unknown" -> 0.
std::optional<std::uint32_t> parse_roles(std::string_view text);
std::optional<PortState> parse_port_state(std::string_view text);
std::optional<PortType> parse_port_type(std::string_view text);

}  // namespace sysfs
