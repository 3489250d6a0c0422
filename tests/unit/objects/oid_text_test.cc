#include "objects/oid_text.h"

#include <gtest/gtest.h>

#include <string>

#include "objects/host_description.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

// Components compare as numbers: shorter ones sort first. A written value
// after the blank (a scalar matches, unless the value holds a dot) is met
// through FCSET in tests/e2e/objects.
TEST(OidText, CountsAndComparesComponentByComponent) {
  for (const auto& row : testing::read_rows("unit/objects/oid_texts.txt")) {
    SCOPED_TRACE(row.at(1));
    if (row.at(0) == "count") {
      EXPECT_EQ(oid_component_count(row.at(1).c_str()), std::stoi(row.at(2)));
    } else {
      EXPECT_EQ(oid_compare(row.at(1).c_str(), row.at(2).c_str(), std::stoi(row.at(3))),
                std::stoi(row.at(4)));
    }
  }
}

std::uint16_t u16(const std::string& text) {
  return static_cast<std::uint16_t>(std::stoul(text, nullptr, 0));
}

// host_texts.txt: processor names by type, then level, then architecture,
// and descriptions; what /proc/cpuinfo gives; clock rates; the sysfs clock;
// the Linux and Windows descriptions.
TEST(HostTexts, AsTheFileSays) {
  char out[160];
  const testing::Vars vars = {{"NL", "\n"}, {"TAB", "\t"}};
  for (const auto& row : testing::read_rows("unit/objects/host_texts.txt", vars)) {
    const std::string& kind = row.at(0);
    SCOPED_TRACE(kind + " " + row.at(1) + " " + row.at(2));
    if (kind == "processor") {
      platform::ProcessorInfo info;
      info.type = static_cast<std::uint32_t>(std::stoul(row.at(1)));
      info.architecture = u16(row.at(2));
      info.level = u16(row.at(3));
      info.revision = u16(row.at(4));
      EXPECT_STREQ(processor_name(info, out, 64), row.at(5).c_str());
      if (row.size() == 6) continue;
      processor_description(info, row.at(6) == "1", std::stoul(row.at(7)), out, sizeof out);
      EXPECT_STREQ(out, row.at(8).c_str());
    } else if (kind == "cpuinfo") {
      platform::ProcessorInfo info = platform::processor_info_from_cpuinfo(row.at(1).c_str());
      std::uint32_t mhz = 0;
      const bool known = platform::clock_mhz_from_cpuinfo(row.at(1).c_str(), &mhz);
      std::snprintf(out, sizeof out, "%u %u %u %u %u", info.type, info.architecture, info.level,
                    info.revision, known ? mhz : 0);
      EXPECT_EQ(out, row.at(2));
    } else if (kind == "clock") {
      clock_rate_text(row.at(1) == "1", static_cast<std::uint32_t>(std::stoul(row.at(2))), out, 32);
      EXPECT_STREQ(out, row.at(3).c_str());
    } else if (kind == "max_freq") {
      std::uint32_t mhz = 0;
      EXPECT_EQ(platform::clock_mhz_from_max_freq(row.at(1).c_str(), &mhz), row.at(2) != "0");
      EXPECT_EQ(std::to_string(mhz), row.at(2));
    } else if (kind == "linux") {
      platform::OsVersion v;
      v.ok = true;
      platform::parse_kernel_release(row.at(1).c_str(), &v);
      platform::os_release_name(row.at(2).c_str(), v.name, std::stoul(row.at(3)));
      os_description(v, out, sizeof out);
      EXPECT_EQ(std::string(out) + "|" + host_vendor(v), row.at(4));
    } else {  // windows; a failed query has its error in place of the major number
      platform::OsVersion w;
      w.ok = kind == "windows";
      w.platform = std::stoi(row.at(1));
      (w.ok ? w.major : w.error) = std::stoi(row.at(2));
      w.minor = std::stoi(row.at(3));
      std::snprintf(w.detail, sizeof w.detail, "%s", row.at(4).c_str());
      os_description(w, out, sizeof out);
      EXPECT_STREQ(out, row.at(5).c_str());
      EXPECT_STREQ(host_vendor(w), "Microsoft");
    }
  }
}

}  // namespace
}  // namespace tavro
