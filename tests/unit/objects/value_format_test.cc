#include "objects/value_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tavro::format_value;

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
