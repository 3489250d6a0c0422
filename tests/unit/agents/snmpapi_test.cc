// The snmpapi helpers agents and host share.
#include <gtest/gtest.h>

#include "platform/snmp_extension.h"

namespace {

TEST(SnmpApi, OidCopyIsItsOwnAndFreeEmptiesIt) {
  std::uint32_t ids[] = {1, 3, 6, 1, 4, 1, 48217, 3};
  snmp_oid source{8, ids};
  snmp_oid copy{};
  ASSERT_EQ(SnmpUtilOidCpy(&copy, &source), 1);
  ids[7] = 4;
  EXPECT_EQ(copy.idLength, 8u);
  EXPECT_EQ(copy.ids[7], 3u);
  SnmpUtilOidFree(&copy);
  EXPECT_EQ(copy.idLength, 0u);
  EXPECT_EQ(copy.ids, nullptr);
  snmp_oid empty{};
  EXPECT_EQ(SnmpUtilOidCpy(&copy, &empty), 1);
  EXPECT_EQ(copy.ids, nullptr);
  auto* memory = static_cast<std::uint8_t*>(SnmpUtilMemAlloc(16));
  ASSERT_NE(memory, nullptr);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(memory[k], 0);
  SnmpUtilMemFree(memory);
}

}  // namespace
