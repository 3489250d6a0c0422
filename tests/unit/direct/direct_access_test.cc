// The direct-object tables and value parsing.
#include "objects/direct/direct_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "objects/direct/fcdi_table.h"

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
  struct Case {
    const char* text;
    int base;
    bool ok;
    std::uint32_t value;
  };
  for (const Case& c :
       {Case{"0", 0, true, 0}, Case{"2048", 0, true, 2048}, Case{"0x800", 0, true, 2048},
        Case{"010", 0, true, 8}, Case{"4294967295", 0, true, 4294967295u}, Case{" 7 ", 0, true, 7},
        Case{"1F", 16, true, 31}, Case{"0x1f", 16, true, 31}, Case{"abc", 0, false, 0},
        Case{"", 0, false, 0}, Case{"-1", 0, false, 0}, Case{"4294967296", 0, false, 0},
        Case{"12abc", 0, false, 0}, Case{"0x", 0, false, 0}, Case{"g", 16, false, 0}}) {
    std::uint32_t value = 99;
    EXPECT_EQ(parse_setting_value(c.text, c.base, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace tavro
