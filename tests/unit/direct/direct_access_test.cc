// The direct-object tables and value parsing.
#include "objects/direct/direct_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "objects/direct/fcdi_table.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

// What the rows read is checked end to end (tests/e2e/direct).
TEST(FcdiTable, SettingNamesAndNoRowHidesALaterOneByPrefix) {
  const char* names[] = {"MaxFrameSize",  "AlPa",           "Point2Point", "ShadowRam",
                         "AutoDiscovery", "LogInformation", "LogWarning",  "LogError"};
  for (int i = 0; i < 8; ++i) EXPECT_STREQ(fcdi_set_table[i + 1].setting, names[i]);
  // No row hides a later one by being its prefix.
  for (const fcdi_oid_entry* later = fcdi_get_table; later->oid != nullptr; ++later) {
    for (const fcdi_oid_entry* earlier = fcdi_get_table; earlier < later; ++earlier) {
      EXPECT_NE(std::strncmp(later->oid, earlier->oid, std::strlen(earlier->oid)), 0)
          << earlier->oid << " hides " << later->oid;
    }
  }
}

TEST(SettingValue, NumbersWithBasePrefixesThatFit32Bits) {
  for (const auto& row : testing::read_rows("unit/direct/setting_values.txt")) {
    std::uint32_t value = 99;
    const bool ok = parse_setting_value(row.at(0).c_str(), std::stoi(row.at(1)), &value);
    EXPECT_EQ(ok, row.at(2) != "refused") << row.at(0);
    if (ok) {
      EXPECT_EQ(std::to_string(value), row.at(2)) << row.at(0);
    }
  }
}

}  // namespace
}  // namespace tavro
