#include "objects/host_description.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

std::string name_of(std::uint32_t type, std::uint16_t arch, std::uint16_t level,
                    std::uint16_t revision) {
  platform::ProcessorInfo info;
  info.type = type;
  info.architecture = arch;
  info.level = level;
  info.revision = revision;
  char buffer[64];
  return processor_name(info, buffer, sizeof buffer);
}

TEST(ProcessorName, ByTypeThenLevelThenArchitecture) {
  EXPECT_EQ(name_of(386, 0, 3, 0), "386");
  EXPECT_EQ(name_of(586, 0, 15, 0), "Pentium, Level 15");
  EXPECT_EQ(name_of(4000, 0xFFFF, 0, 0), "Mips");
  EXPECT_EQ(name_of(686, 0, 6, 0x0207), "Intel 686 Model 2, Stepping 7");
  EXPECT_EQ(name_of(2200, 6, 7, 0x0103), "IA-64 Model B, Stepping 3");
  EXPECT_EQ(name_of(0, 0xFFFF, 0, 0), "Unknown (0)");
  EXPECT_EQ(name_of(12, 9, 0, 0), "unknown (Arch:9 Type:12)");
}

// Rates of 166 and below stay as they are; rounding comes after the range check.
TEST(ClockRate, RoundsNearlyRoundRatesAndDropsImplausibleOnes) {
  const std::pair<std::uint32_t, const char*> rates[] = {
      {733, "~733 Mhz"},      {699, "~700 Mhz"}, {247, "~250 Mhz"},
      {196, "~196 Mhz"},      {149, "~149 Mhz"}, {5, "~5 Mhz"},
      {99999, "~100000 Mhz"}, {4, ""},           {100000, ""}};
  char out[32];
  for (const auto& [mhz, text] : rates) {
    clock_rate_text(true, mhz, out, sizeof out);
    EXPECT_STREQ(out, text) << mhz;
  }
  clock_rate_text(false, 733, out, sizeof out);
  EXPECT_STREQ(out, "");
}

TEST(OsDescription, LinuxTextsAndTheWindowsFamilies) {
  platform::OsVersion v;
  v.ok = true;
  v.platform = platform::kPlatformLinux;
  platform::parse_kernel_release("6.1.0-18-amd64", &v);
  char out[160];
  os_description(v, out, sizeof out);
  EXPECT_STREQ(out, "Linux 6.1 0-18-amd64");
  EXPECT_STREQ(host_vendor(v), "Linux");
  platform::os_release_name("ID=debian\nNAME=\"Debian GNU/Linux\"\n", v.name, sizeof v.name);
  EXPECT_STREQ(host_vendor(v), "Debian GNU/Linux");

  struct Case {
    int platform, major, minor;
    const char* detail;
    const char* text;
  } cases[] = {
      {platform::kPlatformWin32Nt, 4, 0, "Service Pack 6", "Windows-NT 4.0 Service Pack 6"},
      {platform::kPlatformWin32Nt, 5, 0, "Service Pack 4", "Windows-2000 5.0 Service Pack 4"},
      {3, 4, 20, "", "MS-Windows 4.20 "},
  };
  for (const Case& c : cases) {
    platform::OsVersion w;
    w.ok = true;
    w.platform = c.platform;
    w.major = c.major;
    w.minor = c.minor;
    std::snprintf(w.detail, sizeof w.detail, "%s", c.detail);
    os_description(w, out, sizeof out);
    EXPECT_STREQ(out, c.text);
    EXPECT_STREQ(host_vendor(w), "Microsoft");
  }
  platform::OsVersion failed;
  failed.platform = platform::kPlatformWin32Nt;
  failed.error = 87;
  os_description(failed, out, sizeof out);
  EXPECT_STREQ(out, "MS-Windows (err:87)");
}

TEST(SystemInfo, CpuinfoGivesFamilyModelSteppingAndClockAndTheDescription) {
  const char* cpuinfo =
      "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 158\n"
      "model name\t: Some CPU\nstepping\t: 10\ncpu MHz\t\t: 3599.9\n\nprocessor\t: 1\n";
  platform::ProcessorInfo info = platform::processor_info_from_cpuinfo(cpuinfo);
  EXPECT_EQ(info.type, 586u);
  EXPECT_EQ(info.architecture, platform::kArchitectureIntel);
  EXPECT_EQ(info.level, 6);
  EXPECT_EQ(info.revision, 158 << 8 | 10);
  std::uint32_t mhz = 0;
  ASSERT_TRUE(platform::clock_mhz_from_cpuinfo(cpuinfo, &mhz));
  EXPECT_EQ(mhz, 3600u);
  // The description: name, blank and clock, even when the clock is empty.
  char out[128];
  processor_description(info, true, 2598, out, sizeof out);
  EXPECT_STREQ(out, "Pentium Pro ~2600 Mhz");
  processor_description(info, false, 0, out, sizeof out);
  EXPECT_STREQ(out, "Pentium Pro ");

  platform::ProcessorInfo other = platform::processor_info_from_cpuinfo("processor : 0\n");
  EXPECT_EQ(other.architecture, platform::kArchitectureUnknown);
  EXPECT_FALSE(platform::clock_mhz_from_cpuinfo("processor : 0\n", &mhz));

  // From the sysfs text in kHz, rounded; 0 where the clock is unknown.
  const std::pair<const char*, std::uint32_t> max_freq[] = {{"3599499\n", 3599},
                                                            {"3599500\n", 3600},
                                                            {"499", 0},
                                                            {"0\n", 0},
                                                            {"", 0},
                                                            {"-5", 0},
                                                            {"4294967295499", 4294967295u},
                                                            {"4294967295500", 0}};
  for (const auto& [khz, expected] : max_freq) {
    mhz = 0;
    EXPECT_EQ(platform::clock_mhz_from_max_freq(khz, &mhz), expected != 0) << khz;
    EXPECT_EQ(mhz, expected) << khz;
  }

  platform::OsVersion v;
  platform::parse_kernel_release("6.18", &v);
  EXPECT_EQ(v.major, 6);
  EXPECT_EQ(v.minor, 18);
  EXPECT_STREQ(v.detail, "");
  char name[8];
  platform::os_release_name("NAME='A very long name'\n", name, sizeof name);
  EXPECT_STREQ(name, "A very ");
}

}  // namespace
}  // namespace tavro
