#include "objects/host_description.h"

#include <cstdio>

namespace tavro {

const char* processor_name(const platform::ProcessorInfo& info, char* name_buffer,
                           std::size_t cap) {
  switch (info.type) {
    case 386:
      return "386";
    case 486:
      return "486";
    case 586:
      switch (info.level) {
        case 5:
          return "Pentium";
        case 6:
          return "Pentium Pro";
        case 7:
          return "Pentium III";
        default:
          std::snprintf(name_buffer, cap, "Pentium, Level %d", info.level);
          return name_buffer;
      }
    case 4000:
      return "Mips";
    case 21064:
      return "Alpha";
    default:
      break;
  }
  int model = info.revision >> 8;
  int stepping = info.revision & 0xFF;
  switch (info.architecture) {
    case platform::kArchitectureIntel:
      std::snprintf(name_buffer, cap, "Intel %d Model %d, Stepping %d", static_cast<int>(info.type),
                    model, stepping);
      break;
    case platform::kArchitectureIa64:
      std::snprintf(name_buffer, cap, "IA-64 Model %c, Stepping %d", 'A' + model, stepping);
      break;
    case platform::kArchitectureUnknown:
      std::snprintf(name_buffer, cap, "Unknown (%d)", static_cast<int>(info.type));
      break;
    default:
      std::snprintf(name_buffer, cap, "unknown (Arch:%d Type:%d)", info.architecture,
                    static_cast<int>(info.type));
      break;
  }
  return name_buffer;
}

void clock_rate_text(bool known, std::uint32_t mhz, char* out, std::size_t cap) {
  if (cap == 0) return;
  out[0] = '\0';
  if (!known || mhz <= 4 || mhz >= 100000) return;
  if (mhz > 166 && mhz % 50 > 46) mhz = (mhz + 3) / 5 * 5;
  std::snprintf(out, cap, "~%d Mhz", static_cast<int>(mhz));
}

void processor_description(const platform::ProcessorInfo& info, bool clock_known, std::uint32_t mhz,
                           char* out, std::size_t cap) {
  char name[64];
  char clock[32];
  clock_rate_text(clock_known, mhz, clock, sizeof clock);
  std::snprintf(out, cap, "%s %s", processor_name(info, name, sizeof name), clock);
}

void os_description(const platform::OsVersion& v, char* out, std::size_t cap) {
  if (!v.ok) {
    std::snprintf(out, cap, "%s (err:%d)",
                  v.platform == platform::kPlatformLinux ? "Linux" : "MS-Windows", v.error);
    return;
  }
  const char* system = "MS-Windows";
  switch (v.platform) {
    case platform::kPlatformLinux:
      std::snprintf(out, cap, "Linux %d.%d %s", v.major, v.minor, v.detail);
      return;
    case platform::kPlatformWin32s:
      system = "Windows-3.x";
      break;
    case platform::kPlatformWin32Windows:
      system = "Windows-95";
      break;
    case platform::kPlatformWin32Nt:
      system = v.major < 5 ? "Windows-NT" : "Windows-2000";
      break;
    default:
      break;
  }
  std::snprintf(out, cap, "%s %d.%d %s", system, v.major, v.minor, v.detail);
}

const char* host_vendor(const platform::OsVersion& v) {
  if (v.platform != platform::kPlatformLinux) return "Microsoft";
  return v.name[0] != '\0' ? v.name : "Linux";
}

}  // namespace tavro
