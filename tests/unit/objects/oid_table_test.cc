#include "objects/oid_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "objects/oid_text.h"
#include "objects/value_format.h"
#include "objects/write_value.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

const oid_entry* find_exact(const oid_entry* table, const char* oid) {
  for (const oid_entry* row = table; row->oid != nullptr; ++row) {
    if (std::strcmp(row->oid, oid) == 0) return row;
  }
  return nullptr;
}

TEST(OidTables, EveryRowIsConsistentWithItself) {
  for (const oid_entry* table : {oid_get_table, oid_set_table}) {
    std::set<std::string> seen;
    for (const oid_entry* row = table; row->oid != nullptr; ++row) {
      SCOPED_TRACE(row->oid);
      EXPECT_TRUE(seen.insert(row->oid).second) << "suffix listed twice";
      EXPECT_NE(row->handler, nullptr);
      EXPECT_EQ(row->components, oid_component_count(row->oid));
      EXPECT_TRUE(row->components == 3 || row->components == 4);
      ASSERT_GE(row->index_count, 0);
      ASSERT_LE(row->index_count, 3);
      EXPECT_EQ(std::strlen(row->index_kinds), static_cast<std::size_t>(row->index_count) + 1);
      EXPECT_EQ(row->index_kinds[row->index_count], ' ');
      EXPECT_TRUE(row->type >= 1 && row->type <= 8);
      EXPECT_GT(row->count, 0);
    }
  }
}

TEST(OidTables, WalkVisitsEveryReadRowOnceInAscendingOrder) {
  std::set<std::string> visited;
  const char* at = "1.1.0";
  const oid_entry* last = nullptr;
  while (std::strcmp(at, kWalkEnd) != 0) {
    const oid_entry* row = find_exact(oid_get_table, at);
    ASSERT_NE(row, nullptr) << at << " names no read row";
    ASSERT_TRUE(visited.insert(at).second) << at << " visited twice";
    if (last != nullptr) {
      EXPECT_GT(oid_compare(row->oid, last->oid, 4), 0) << row->oid;
    }
    last = row;
    at = row->next;
  }
  std::size_t rows = 0;
  while (oid_get_table[rows].oid != nullptr) ++rows;
  EXPECT_EQ(visited.size(), rows);
  EXPECT_STREQ(last->oid, "5.2.1.3");
  EXPECT_EQ(find_exact(oid_get_table, kWalkEnd), nullptr);
}

TEST(OidTables, ReadAndWriteRowsAgree) {
  for (const oid_entry* w = oid_set_table; w->oid != nullptr; ++w) {
    SCOPED_TRACE(w->oid);
    EXPECT_STREQ(w->next, kWalkEnd);
    const oid_entry* r = find_exact(oid_get_table, w->oid);
    if (r == nullptr) continue;
    EXPECT_EQ(w->components, r->components);
    EXPECT_EQ(w->index_count, r->index_count);
    EXPECT_STREQ(w->index_kinds, r->index_kinds);
  }
}

// Which written values fit their field: every type's boundary rows (first,
// last, one past) and the texts a user may type around a number.
const std::map<std::string, int> kTypes = {
    {"signed", kValueSigned}, {"unsigned", kValueUnsigned}, {"u8", kValueU8},
    {"u16", kValueU16},       {"signed64", kValueSigned64}, {"text", kValueText},
    {"bytes", kValueBytes}};

TEST(WriteValue, FitsItsFieldUpToTheBoundaryAndNoFurther) {
  for (const auto& row : testing::read_rows("unit/objects/write_values.txt")) {
    const std::string& text = row.at(2);
    const bool fits = row.at(3) == "yes";
    SCOPED_TRACE(row.at(0) + " \"" + text + "\"");
    if (row.at(0) != "field32") {
      EXPECT_EQ(lxs_value_fits(text.c_str(), kTypes.at(row.at(0)), std::stoi(row.at(1))), fits);
      continue;
    }
    std::uint32_t field = 0;
    EXPECT_EQ(parse_field32(text.c_str(), &field), fits);
    if (fits) {
      EXPECT_EQ(field, static_cast<std::uint32_t>(std::stoll(text)));
    }
  }
}

template <typename T>
std::string format(const std::vector<T>& values, int type, int count = -1) {
  char out[256];
  std::memset(out, 'x', sizeof out);
  int n = count < 0 ? static_cast<int>(values.size()) : count;
  std::size_t length =
      format_value(out, sizeof out, values.data(), values.size() * sizeof(T), n, type);
  EXPECT_EQ(length, std::strlen(out));
  return out;
}

// Codes 3, 8 and 10 are pinned by the replies in tests/unit/channel and tests/e2e/objects.
TEST(ValueFormat, EachCodeAndUnknownCodes) {
  EXPECT_EQ(format<std::uint32_t>({7, 8, 4294967295u}, 2), "7:8:4294967295");
  EXPECT_EQ(format<std::int32_t>({-5, 12}, 1), "-5:12");
  EXPECT_EQ(format<std::uint8_t>({0, 255}, 5), "0:255");
  EXPECT_EQ(format<std::uint16_t>({65535, 1}, 6), "65535:1");
  EXPECT_EQ(format<std::uint32_t>({0xABC}, 7), "00000ABC");
  EXPECT_EQ(format<std::int64_t>({-1234567890123LL, 9000000000LL}, 9), "-1234567890123:9000000000");
  // Text takes the first count characters; unknown codes are errors.
  std::vector<char> text{'a', 'b', 'c', 'd', '\0', 'z'};
  EXPECT_EQ(format(text, 4, 3), "abc");
  EXPECT_EQ(format(text, 4, 6), "abcd");
  // Only the low four bits of the type choose the code.
  EXPECT_EQ(format<std::uint32_t>({7}, 0x12), "7");
  EXPECT_EQ(format<std::uint32_t>({7}, 0), "Error: Unknown oid->type 0");
  EXPECT_EQ(format<std::uint32_t>({7}, 11), "Error: Unknown oid->type 11");
  EXPECT_EQ(format<std::uint32_t>({7}, 0x1F), "Error: Unknown oid->type 31");
}

TEST(ValueFormat, NeverReadsOrWritesPastItsBuffers) {
  std::uint32_t values[2] = {1, 2};
  char out[64];
  // A count larger than the data is cut to the data.
  format_value(out, sizeof out, values, sizeof values, 100, 2);
  EXPECT_STREQ(out, "1:2");
  char text[4] = {'a', 'b', 'c', 'd'};
  format_value(out, sizeof out, text, sizeof text, 100, 4);
  EXPECT_STREQ(out, "abcd");
  // A small output is cut and terminated.
  char small[5];
  std::memset(small, 'x', sizeof small);
  std::uint8_t wwn[8] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  EXPECT_EQ(format_value(small, sizeof small, wwn, sizeof wwn, 8, 3), 4u);
  EXPECT_STREQ(small, "1020");
  EXPECT_EQ(format_value(small, 1, wwn, sizeof wwn, 8, 3), 0u);
  EXPECT_STREQ(small, "");
}

}  // namespace
}  // namespace tavro
