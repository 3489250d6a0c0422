// Which written values fit their field: every type's boundary rows (first,
// last, one past) and the texts a user may type around a number.
#include "objects/write_value.h"

#include <gtest/gtest.h>

#include <string>

#include "objects/value_format.h"

namespace tavro {
namespace {

// type, count: the row's; fits: lxs_value_fits. kField32 rows check parse_field32.
constexpr int kField32 = -1;
const struct {
  int type, count;
  std::string text;
  bool fits;
} kRows[] = {
    {kValueSigned, 1, "-2147483648", true},
    {kValueSigned, 1, "2147483647", true},
    {kValueSigned, 1, "2147483648", false},
    {kValueSigned, 1, "-2147483649", false},
    {kValueSigned, 1, "-1", true},
    {kValueSigned, 1, "+5", true},
    {kValueSigned, 1, " 7 ", true},
    {kValueSigned, 1, "", false},
    {kValueSigned, 1, "-", false},
    {kValueSigned, 1, "5x", false},
    {kValueSigned, 1, "0x10", false},
    {kValueUnsigned, 1, "4294967295", true},
    {kValueUnsigned, 1, "4294967296", false},
    {kValueUnsigned, 1, "-1", false},
    {kValueU8, 1, "255", true},
    {kValueU8, 1, "256", false},
    {kValueU16, 1, "65535", true},
    {kValueU16, 1, "65536", false},
    {kValueSigned64, 1, "-9223372036854775808", true},
    {kValueSigned64, 1, "9223372036854775808", false},
    {kValueText, 4, "abcd", true},
    {kValueText, 4, "abcde", false},
    {kValueText, 0, "", true},
    {kValueText, 0, "a", false},
    {kValueBytes, 2, "0A0B", true},
    {kValueBytes, 2, "0A0B0", false},
    {kField32, 0, "4294967295", true},
    {kField32, 0, "4294967296", false},
    {kField32, 0, "-2147483648", true},
    {kField32, 0, "-2147483649", false},
    {kField32, 0, "+5", true},
    {kField32, 0, "12 3", false},
};

TEST(WriteValue, FitsItsFieldUpToTheBoundaryAndNoFurther) {
  for (const auto& row : kRows) {
    SCOPED_TRACE(testing::Message() << "type " << row.type << " \"" << row.text << "\"");
    if (row.type != kField32) {
      EXPECT_EQ(lxs_value_fits(row.text.c_str(), row.type, row.count), row.fits);
      continue;
    }
    std::uint32_t field = 0;
    EXPECT_EQ(parse_field32(row.text.c_str(), &field), row.fits);
    if (row.fits) {
      EXPECT_EQ(field, static_cast<std::uint32_t>(std::stoll(row.text)));
    }
  }
}

}  // namespace
}  // namespace tavro
