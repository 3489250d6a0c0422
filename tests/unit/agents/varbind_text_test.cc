// The frame's conversions between bindings and handler text.
#include "agents/frame/varbind_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "agents/frame/adapter_table.h"
#include "objects/oid_table.h"
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

struct TypeRow {
  const char* name;
  std::int32_t type;
  const char* text;
  std::uint8_t asn_type;
  std::vector<std::uint8_t> bytes;  // octet strings
  std::int64_t number;              // numbers
};

// type: 1/6 INTEGER, 2/7 Gauge, 3/5/8 hex bytes, 4 text.
const TypeRow kTypeRows[] = {
    {"IntegerWithBlanksAndSign", 1, "  -12x", snmp::kInteger, {}, -12},
    {"IntegerNoDigits", 6, "abc", snmp::kInteger, {}, 0},
    {"GaugeLeadingDigits", 7, "2:3:4:5", snmp::kGauge, {}, 2},
    {"GaugeTop", 2, "4294967295", snmp::kGauge, {}, 4294967295},
    {"HexOddLength", 3, "ABC", snmp::kOctetString, {0xAB, 0xC0}, 0},
    {"HexBlankIsZero", 8, "  1F", snmp::kOctetString, {0x00, 0x1F}, 0},
    {"HexWwn", 5, "210000E08B010203", snmp::kOctetString, {0x21, 0, 0, 0xE0, 0x8B, 1, 2, 3}, 0},
    {"TextAsItIs", 4, "a|b", snmp::kOctetString, {'a', '|', 'b'}, 0},
    {"TextEmpty", 4, "", snmp::kOctetString, {}, 0},
    {"TypeNineUntouched", 9, "12", snmp::kNull, {}, 0},
};

TEST(Typing, ValueFromReplyText) {
  for (const TypeRow& row : kTypeRows) {
    SCOPED_TRACE(row.name);
    snmp_value value{};
    value.asnType = snmp::kNull;
    ASSERT_EQ(set_value_from_text(value, row.text, row.type), 0);
    ASSERT_EQ(value.asnType, row.asn_type);
    if (row.asn_type == snmp::kOctetString) {
      std::vector<std::uint8_t> got(value.asnValue.string.stream,
                                    value.asnValue.string.stream + value.asnValue.string.length);
      EXPECT_EQ(got, row.bytes);
      EXPECT_NE(value.asnValue.string.dynamic, 0);
    } else if (row.asn_type == snmp::kInteger) {
      EXPECT_EQ(value.asnValue.number, row.number);
    } else if (row.asn_type == snmp::kGauge) {
      EXPECT_EQ(value.asnValue.unsigned32, row.number);
    }
    free_value(value);
  }
}

TEST(TypingLimits, NumbersThatDoNotFitAreRefusedAndHexOfEveryLengthFits) {
  for (auto [type, text] : {std::pair{1, "2147483648"},
                            {1, "-2147483649"},
                            {2, "4294967296"},
                            {2, "-1"},
                            {1, "99999999999999999999"}}) {
    snmp_value value{};
    EXPECT_EQ(set_value_from_text(value, text, type), 5) << type << " " << text;
  }
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

}  // namespace
}  // namespace tavro
