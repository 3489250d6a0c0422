// The extension-agent interface values agents and host share, pinned, and
// the snmpapi helpers.
#include <gtest/gtest.h>

#include "platform/snmp_extension.h"

namespace {

TEST(ExtensionInterface, ValuesAsTheServiceUsesThem) {
  EXPECT_EQ(snmp::kGet, 0xA0);
  EXPECT_EQ(snmp::kGetNext, 0xA1);
  EXPECT_EQ(snmp::kSet, 0xA3);
  EXPECT_EQ(snmp::kNoSuchName, 2);
  EXPECT_EQ(snmp::kGenErr, 5);
  const std::uint8_t types[] = {snmp::kInteger,  snmp::kOctetString, snmp::kObjectIdentifier,
                                snmp::kSequence, snmp::kIpAddress,   snmp::kCounter,
                                snmp::kGauge,    snmp::kTimeTicks,   snmp::kOpaque};
  const std::uint8_t expected[] = {0x02, 0x04, 0x06, 0x30, 0x40, 0x41, 0x42, 0x43, 0x44};
  for (int k = 0; k < 9; ++k) EXPECT_EQ(types[k], expected[k]) << k;
  EXPECT_EQ(sizeof(snmp_oid().ids[0]), 4u) << "32-bit sub-identifiers";
}

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
