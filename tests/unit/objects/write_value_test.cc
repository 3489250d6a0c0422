// Which written values fit their field: every type's boundary rows (first,
// last, one past) and the texts a user may type around a number.
#include "objects/write_value.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "objects/value_format.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

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

}  // namespace
}  // namespace tavro
