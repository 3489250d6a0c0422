// The frame's conversions between bindings and handler text, the
// extension-agent interface values agents built elsewhere rely on, pinned,
// the snmpapi helpers agents and host share; the bridge's log levels and
// stdagent's adapter table.
#include "agents/frame/varbind_text.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "agents/frame/adapter_table.h"
#include "agents/stdagent/stdagent.h"
#include "agents/stdagent/stdmib_table.h"
#include "objects/oid_table.h"
#include "sim/sim_control.h"
#include "snmphost/bridge.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

TEST(Decode, HandlerSeesTheTextFormInsideItsBuffer) {
  for (const auto& row : testing::read_rows("unit/agents/varbind_rows.txt")) {
    char text[4097];
    std::snprintf(text, sizeof text, "%s", row.at(1).c_str());
    // A byte above 255 names nothing: No Such Instance through snmpd (tests/e2e/snmp).
    EXPECT_TRUE(decode_instance(text, sizeof text, row.at(0).c_str())) << row.at(1);
    EXPECT_EQ(text, row.at(2));
  }
  char text[40] = "1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1";  // grows as it is decoded
  decode_instance(text, sizeof text, "UUUU");
  EXPECT_LT(std::strlen(text), sizeof text);
}

TEST(Typing, ValueFromReplyText) {
  const std::pair<std::string, std::uint8_t> asn[] = {{"INTEGER", snmp::kInteger},
                                                      {"Gauge", snmp::kGauge},
                                                      {"OCTET", snmp::kOctetString},
                                                      {"NULL", snmp::kNull}};
  for (const auto& row : testing::read_rows("unit/agents/type_rows.txt")) {
    SCOPED_TRACE(row.at(0));
    snmp_value value{};
    value.asnType = snmp::kNull;
    const int status = set_value_from_text(value, row.at(2).c_str(), std::stoi(row.at(1)));
    ASSERT_EQ(status, row.at(3) == "refused" ? 5 : 0);
    if (status != 0) continue;
    auto type = std::find_if(std::begin(asn), std::end(asn),
                             [&](const auto& a) { return a.first == row.at(3); });
    ASSERT_EQ(value.asnType, type->second);
    if (value.asnType == snmp::kOctetString) {
      std::string hex;
      char pair[3];
      for (std::uint32_t k = 0; k < value.asnValue.string.length; ++k) {
        std::snprintf(pair, sizeof pair, "%02X", value.asnValue.string.stream[k]);
        hex += pair;
      }
      EXPECT_EQ(hex, row.at(4));
      EXPECT_NE(value.asnValue.string.dynamic, 0);
    } else if (value.asnType == snmp::kInteger) {
      EXPECT_EQ(value.asnValue.number, std::stoll(row.at(4)));
    } else if (value.asnType == snmp::kGauge) {
      EXPECT_EQ(value.asnValue.unsigned32, std::stoull(row.at(4)));
    }
    free_value(value);
  }
}

TEST(TypingLimits, HexOfEveryLengthFits) {
  std::string text;  // every hex length gives half the digits, rounded up
  for (std::size_t n = 0; n <= 64; ++n, text += "F") {
    snmp_value value{};
    ASSERT_EQ(set_value_from_text(value, text.c_str(), 3), 0);
    EXPECT_EQ(value.asnValue.string.length, (n + 1) / 2) << n;
    free_value(value);
  }
}

TEST(ValueText, WriteValuesAsTheHandlersReadThem) {
  std::uint8_t bytes[] = {'4', '2', 0, 'x'}, address[] = {10, 0, 0, 7};
  std::uint32_t ids[] = {1, 3, 6};
  const std::pair<snmp_value, const char*> rows[] = {
      {{snmp::kInteger, {.number = -5}}, "x -5"},
      {{snmp::kOctetString, {.string = {bytes, 4, 0}}}, "x 42"},
      {{snmp::kIpAddress, {.string = {address, 4, 0}}}, "x 10.0.0.7"},
      {{snmp::kObjectIdentifier, {.object = {3, ids}}}, "x .1.3.6"},
      {{snmp::kGauge, {.unsigned32 = 4000000000u}}, "x 4000000000"},
  };
  for (const auto& [value, expected] : rows) {
    char text[64] = "x ";
    value_to_text(value, text, sizeof text);
    EXPECT_STREQ(text, expected);
  }
}

TEST(NameText, DottedWithTheLeadingDot) {
  std::uint32_t ids[] = {1, 3, 6, 1, 3, 94, 1, 1, 0};
  char text[64];
  ASSERT_TRUE(name_to_text(snmp_oid{9, ids}, text, sizeof text));
  EXPECT_STREQ(text, ".1.3.6.1.3.94.1.1.0");
  EXPECT_FALSE(name_to_text(snmp_oid{9, ids}, text, 10));
  EXPECT_LT(std::strlen(text), 10u);
}

TEST(InstanceShape, KindsTakeExactlyTheirSubIdentifiers) {
  for (const auto& row : testing::read_rows("unit/agents/shape_rows.txt")) {
    std::vector<std::uint32_t> ids;
    std::istringstream parts(row.at(1) == "-" ? "" : row.at(1));
    for (std::string id; std::getline(parts, id, '.');) ids.push_back(std::stoul(id));
    EXPECT_EQ(instance_shape_fits(row.at(0).c_str(), ids.data(), ids.size()), row.at(2) == "yes")
        << row.at(0) << " " << row.at(1);
  }
}

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

// How the bridge files net-snmp's own log messages in the event log.
TEST(BridgeLog, EachSyslogPriorityHasItsEventLevel) {
  // Alarm 1, error 2, warning 4, notice 8, debug 16, as the event log writes them.
  const std::pair<int, int> rows[] = {{LOG_EMERG, 1},   {LOG_CRIT, 1},   {LOG_ERR, 2},
                                      {LOG_WARNING, 4}, {LOG_NOTICE, 8}, {LOG_INFO, 8},
                                      {LOG_DEBUG, 16}};
  for (const auto& [priority, level] : rows) EXPECT_EQ(event_level(priority), level) << priority;
}

// stdagent's adapter table over the simulated driver with a clock the test
// moves. Its walk is checked through snmpd (tests/e2e/snmp).
TEST(StdAgentProfile, RegistersWithTheDriverAsFiba) {
  EXPECT_STREQ(kStdAgentProfile.registration_name, "FIBA");
  EXPECT_EQ(kStdAgentProfile.handle_bits, 0x46490000u);
}

TEST(StdAgentTable, RebuiltAfterAnHourOnly) {
  sim_reset();
  std::int64_t now = 1000;
  ChannelSettings quick;
  quick.request_timeout_ms = 500;
  AgentFrame agent(kStdAgentProfile, quick, [&] { return now; });
  agent.snmp_open();
  ASSERT_EQ(agent.adapters().count, 2);
  ASSERT_EQ(sim_load_model_json(
                R"({"adapters":[{"name":"/pvd/pci4/dev1/fcp0","node_wwn":"2000000000000001",)"
                R"("ports":[{"wwn":"2100000000000001"}]}]})"),
            0);
  now += AgentFrame::kRebuildSeconds - 1;
  agent.build_adapter_tbl();
  EXPECT_EQ(agent.adapters().count, 2);
  now += 1;
  agent.build_adapter_tbl();
  EXPECT_EQ(agent.adapters().count, 1);
  EXPECT_STREQ(agent.adapters().names[0].adap, "/pvd/pci4/dev1/fcp0");
  sim_reset();
}

}  // namespace
}  // namespace tavro
