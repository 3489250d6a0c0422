// Texts that describe the host: processor name and clock rate, operating
// system and its vendor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/system_info.h"

namespace tavro {

// The processor's name; either a constant text or name_buffer, filled.
const char* processor_name(const platform::ProcessorInfo& info, char* name_buffer, std::size_t cap);

// "~%d Mhz", or an empty text when the rate is unknown or implausible.
// known = false when the rate could not be read.
void clock_rate_text(bool known, std::uint32_t mhz, char* out, std::size_t cap);

// "<processor name> <clock rate>"; with an empty clock rate it ends in a blank.
void processor_description(const platform::ProcessorInfo& info, bool clock_known, std::uint32_t mhz,
                           char* out, std::size_t cap);

// "<system> <major>.<minor> <detail>", by platform.
void os_description(const platform::OsVersion& version, char* out, std::size_t cap);

// Who made the operating system.
const char* host_vendor(const platform::OsVersion& version);

}  // namespace tavro
