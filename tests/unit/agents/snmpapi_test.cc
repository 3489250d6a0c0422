// The extension-agent interface values agents built elsewhere rely on, pinned,
// and the snmpapi helpers agents and host share.
#include <gtest/gtest.h>

#include <vector>

#include "platform/snmp_extension.h"

namespace {

TEST(ExtensionInterface, ValuesAsTheServiceUsesThem) {
  const int values[] = {
      snmp::kGet,       snmp::kGetNext,   snmp::kSet,         snmp::kNoSuchName,
      snmp::kGenErr,    snmp::kInteger,   snmp::kOctetString, snmp::kObjectIdentifier,
      snmp::kSequence,  snmp::kIpAddress, snmp::kCounter,     snmp::kGauge,
      snmp::kTimeTicks, snmp::kOpaque};
  const int pinned[] = {0xA0, 0xA1, 0xA3, 2,    5,    0x02, 0x04,
                        0x06, 0x30, 0x40, 0x41, 0x42, 0x43, 0x44};
  EXPECT_EQ(std::vector<int>(values, values + 14), std::vector<int>(pinned, pinned + 14));
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
