#include "base/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

std::vector<std::string> tokens(std::string text, int max) {
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  char* slots[16];
  int n = string2toks(buf.data(), slots, max);
  return std::vector<std::string>(slots, slots + n);
}

using Tokens = std::vector<std::string>;

// texts.txt
TEST(TextHelpers, TokensAndOidHeadAndSkip) {
  const testing::Vars vars = {{"TAB", "\t"}, {"CR", "\r"}, {"LF", "\n"}};
  for (const auto& row : testing::read_rows("unit/daemon/texts.txt", vars)) {
    SCOPED_TRACE(row.at(0) + " " + row.at(1));
    char out[32] = "untouched";
    if (row.at(0) == "tokens") {
      EXPECT_EQ(tokens(row.at(1), std::stoi(row.at(2))), Tokens(row.begin() + 3, row.end()));
    } else if (row.at(0) == "head") {
      EXPECT_STREQ(oid_head(row.at(1).c_str(), out, std::stoi(row.at(2)), std::stoul(row.at(3))),
                   row.at(4).c_str());
    } else {
      EXPECT_STREQ(oid_skip(row.at(1).c_str(), std::stoi(row.at(2))), row.at(3).c_str());
    }
  }
  // The rest of the text stays behind the last token.
  char text[] = "GET /index.html HTTP/1.0";
  char* slots[2];
  ASSERT_EQ(string2toks(text, slots, 2), 2);
  EXPECT_STREQ(slots[1], "/index.html");
  EXPECT_STREQ(slots[1] + std::strlen(slots[1]) + 1, "HTTP/1.0");
}

TEST(ByteHelpers, HexDigitsCountBadAndMissingOnesAsZeroAndSwapsTakeWholeUnits) {
  std::uint8_t wwn[8];
  hex_to_wwn("2000001B32A1B2C3", wwn);
  const std::uint8_t expected[8] = {0x20, 0x00, 0x00, 0x1B, 0x32, 0xA1, 0xB2, 0xC3};
  EXPECT_EQ(0, std::memcmp(wwn, expected, 8));

  std::uint8_t bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  hex_to_bytes("1zG", bytes, 4);  // '1','z' -> 0x10; 'G', end -> 0x00; rest missing
  const std::uint8_t partial[4] = {0x10, 0x00, 0x00, 0x00};
  EXPECT_EQ(0, std::memcmp(bytes, partial, 4));

  // Swaps work on whole units.
  std::uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  swap_bytes16(b, 4);
  EXPECT_EQ((std::vector<int>{2, 1, 4, 3, 5, 6}), std::vector<int>(b, b + 6));
  std::uint8_t c[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  swap_bytes32(c, 5);  // two units
  EXPECT_EQ((std::vector<int>{4, 3, 2, 1, 8, 7, 6, 5}), std::vector<int>(c, c + 8));
  std::uint8_t d[4] = {1, 2, 3, 4};
  swap_bytes32(d, 0);
  swap_bytes16(d, -1);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), std::vector<int>(d, d + 4));
  swap_words32(d, 4);
  EXPECT_EQ((std::vector<int>{3, 4, 1, 2}), std::vector<int>(d, d + 4));
}

}  // namespace
}  // namespace tavro
