#include "platform/system_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {
namespace {

constexpr std::uint32_t kPentiumType = 586;

std::string read_text(const char* path, std::size_t limit) {
  std::string text;
  if (std::FILE* f = std::fopen(path, "r")) {
    char chunk[4096];
    std::size_t n;
    while (text.size() < limit && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
      text.append(chunk, n);
    }
    std::fclose(f);
  }
  return text;
}

// The value of the first "key<blanks>: value" line of /proc/cpuinfo text.
const char* cpuinfo_value(const char* text, const char* key) {
  std::size_t key_length = std::strlen(key);
  for (const char* line = text; line != nullptr && *line != '\0';) {
    if (std::strncmp(line, key, key_length) == 0) {
      const char* p = line + key_length;
      while (*p == ' ' || *p == '\t') ++p;
      if (*p == ':') return p + 1;
    }
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return nullptr;
}

bool cpuinfo_number(const char* text, const char* key, long* value) {
  const char* p = cpuinfo_value(text, key);
  if (p == nullptr) return false;
  char* end = nullptr;
  *value = std::strtol(p, &end, 10);
  return end != p;
}

}  // namespace

ProcessorInfo processor_info_from_cpuinfo(const char* text) {
  ProcessorInfo info;
  long family = 0;
  if (!cpuinfo_number(text, "cpu family", &family)) return info;
  long model = 0;
  long stepping = 0;
  cpuinfo_number(text, "model", &model);
  cpuinfo_number(text, "stepping", &stepping);
  info.type = kPentiumType;
  info.architecture = kArchitectureIntel;
  info.level = static_cast<std::uint16_t>(family);
  info.revision = static_cast<std::uint16_t>((model & 0xFF) << 8 | (stepping & 0xFF));
  return info;
}

ProcessorInfo read_processor_info() {
  ProcessorInfo info = processor_info_from_cpuinfo(read_text("/proc/cpuinfo", 1 << 16).c_str());
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  info.count = online > 0 ? static_cast<int>(online) : 1;
  return info;
}

bool clock_mhz_from_cpuinfo(const char* text, std::uint32_t* mhz) {
  const char* p = cpuinfo_value(text, "cpu MHz");
  if (p == nullptr) return false;
  char* end = nullptr;
  double value = std::strtod(p, &end);
  if (end == p || !(value >= 0) || value > 4e9) return false;
  *mhz = static_cast<std::uint32_t>(std::lround(value));
  return true;
}

bool clock_mhz_from_max_freq(const char* khz_text, std::uint32_t* mhz) {
  if (khz_text[0] < '0' || khz_text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long khz = std::strtoull(khz_text, &end, 10);
  unsigned long long rounded = khz / 1000 + (khz % 1000 >= 500 ? 1 : 0);
  if (errno == ERANGE || rounded == 0 || rounded > UINT32_MAX) return false;
  *mhz = static_cast<std::uint32_t>(rounded);
  return true;
}

bool read_clock_mhz(std::uint32_t* mhz) {
  // The rated maximum is steady; the current rate moves with frequency scaling.
  std::string max_khz = read_text("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", 64);
  if (clock_mhz_from_max_freq(max_khz.c_str(), mhz)) return true;
  return clock_mhz_from_cpuinfo(read_text("/proc/cpuinfo", 1 << 16).c_str(), mhz);
}

void parse_kernel_release(const char* release, OsVersion* out) {
  const char* p = release;
  char* end = nullptr;
  out->major = static_cast<int>(std::strtol(p, &end, 10));
  p = end;
  if (*p == '.') {
    out->minor = static_cast<int>(std::strtol(p + 1, &end, 10));
    p = end;
  }
  if (*p == '.' || *p == '-') ++p;
  std::snprintf(out->detail, sizeof out->detail, "%s", p);
}

void os_release_name(const char* text, char* out, std::size_t cap) {
  if (cap == 0) return;
  out[0] = '\0';
  for (const char* line = text; line != nullptr && *line != '\0';) {
    if (std::strncmp(line, "NAME=", 5) == 0) {
      const char* p = line + 5;
      char quote = (*p == '"' || *p == '\'') ? *p++ : '\0';
      std::size_t n = 0;
      for (; *p != '\0' && *p != '\n' && *p != quote; ++p) {
        if (*p == '\\' && quote == '"' && p[1] != '\0' && p[1] != '\n') ++p;
        if (n + 1 < cap) out[n++] = *p;
      }
      out[n] = '\0';
      return;
    }
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
}

OsVersion read_os_version() {
  OsVersion v;
  v.platform = kPlatformLinux;
  utsname names{};
  if (::uname(&names) != 0) {
    v.error = errno;
    return v;
  }
  v.ok = true;
  parse_kernel_release(names.release, &v);
  std::string os_release = read_text("/etc/os-release", 1 << 14);
  if (os_release.empty()) os_release = read_text("/usr/lib/os-release", 1 << 14);
  os_release_name(os_release.c_str(), v.name, sizeof v.name);
  return v;
}

}  // namespace platform
