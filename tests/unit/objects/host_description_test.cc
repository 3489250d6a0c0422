#include "objects/host_description.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

std::uint16_t u16(const std::string& text) {
  return static_cast<std::uint16_t>(std::stoul(text, nullptr, 0));
}

// host_texts.txt: processor names by type, then level, then architecture;
// clock rates; the sysfs clock; the Windows families.
TEST(HostTexts, AsTheFileSays) {
  char out[160];
  for (const auto& row : testing::read_rows("unit/objects/host_texts.txt", {{"NL", "\n"}})) {
    const std::string& kind = row.at(0);
    SCOPED_TRACE(kind + " " + row.at(1) + " " + row.at(2));
    if (kind == "processor") {
      platform::ProcessorInfo info;
      info.type = static_cast<std::uint32_t>(std::stoul(row.at(1)));
      info.architecture = u16(row.at(2));
      info.level = u16(row.at(3));
      info.revision = u16(row.at(4));
      EXPECT_STREQ(processor_name(info, out, 64), row.at(5).c_str());
    } else if (kind == "clock") {
      clock_rate_text(row.at(1) == "1", static_cast<std::uint32_t>(std::stoul(row.at(2))), out, 32);
      EXPECT_STREQ(out, row.at(3).c_str());
    } else if (kind == "max_freq") {
      std::uint32_t mhz = 0;
      EXPECT_EQ(platform::clock_mhz_from_max_freq(row.at(1).c_str(), &mhz), row.at(2) != "0");
      EXPECT_EQ(std::to_string(mhz), row.at(2));
    } else {
      platform::OsVersion w;
      w.ok = true;
      w.platform = std::stoi(row.at(1));
      w.major = std::stoi(row.at(2));
      w.minor = std::stoi(row.at(3));
      std::snprintf(w.detail, sizeof w.detail, "%s", row.at(4).c_str());
      os_description(w, out, sizeof out);
      EXPECT_STREQ(out, row.at(5).c_str());
      EXPECT_STREQ(host_vendor(w), "Microsoft");
    }
  }
}

TEST(OsDescription, LinuxTextsAndAFailedQuery) {
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
