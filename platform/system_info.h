// Stand-in for the operating system's description of the machine: processor,
// clock rate and system version, in the shapes the host description expects.
//
// On Linux the processor is reported the way 32-bit Windows reports any x86
// processor: type 586, architecture 0, level = the family, revision = model
// (high byte) and stepping (low byte).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr std::uint16_t kArchitectureIntel = 0;
inline constexpr std::uint16_t kArchitectureIa64 = 6;
inline constexpr std::uint16_t kArchitectureUnknown = 0xFFFF;

struct ProcessorInfo {
  std::uint32_t type = 0;  // 386, 486, 586, ...
  std::uint16_t architecture = kArchitectureUnknown;
  std::uint16_t level = 0;
  std::uint16_t revision = 0;
  int count = 0;  // processors in the system
};

// Reads the processor description of this machine.
ProcessorInfo read_processor_info();
// Builds the description from the text of /proc/cpuinfo; count is left 0.
ProcessorInfo processor_info_from_cpuinfo(const char* text);

// The processor's clock rate in MHz; false when it cannot be read.
bool read_clock_mhz(std::uint32_t* mhz);
// The first "cpu MHz" of /proc/cpuinfo text, rounded; false when absent.
bool clock_mhz_from_cpuinfo(const char* text, std::uint32_t* mhz);
// The text of cpufreq's cpuinfo_max_freq (kHz) in MHz, rounded to the
// nearest; false when it holds no number or one that rounds to 0 or does
// not fit.
bool clock_mhz_from_max_freq(const char* khz_text, std::uint32_t* mhz);

// System platform identifiers: the three Windows families and Linux.
inline constexpr int kPlatformWin32s = 0;
inline constexpr int kPlatformWin32Windows = 1;
inline constexpr int kPlatformWin32Nt = 2;
inline constexpr int kPlatformLinux = 0x100;

struct OsVersion {
  bool ok = false;
  int error = 0;  // when not ok
  int platform = kPlatformLinux;
  int major = 0;
  int minor = 0;
  char detail[128] = "";  // service-pack text, or the rest of the kernel release
  char name[128] = "";    // the distribution's name (Linux only)
};

OsVersion read_os_version();
// Fills major, minor and detail from a kernel release such as "6.1.0-18-amd64".
void parse_kernel_release(const char* release, OsVersion* out);
// The NAME value of /etc/os-release text, unquoted; empty when absent.
void os_release_name(const char* text, char* out, std::size_t cap);

}  // namespace platform
