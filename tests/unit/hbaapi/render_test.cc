#include "hbaapi_bridge/render.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hbaapi_bridge/params.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

class HbaRender : public ::testing::Test {
 protected:
  void SetUp() override { hbaapi_count_fields(counts, nullptr); }

  std::string assemble(const std::vector<HbaOutput>& outputs, long long field) {
    char out[4097];
    hbaapi_assemble(outputs, field, counts, nullptr, out, sizeof out);
    return out;
  }

  HbaFieldCounts counts{};
};

// Every fourth byte zero (ending the texts, which lie on 4-byte bounds), the
// others distinct, so that a wrong offset, type or count shows.
std::vector<unsigned char> patterned(std::size_t size) {
  const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = i % 4 == 3 ? 0 : digits[(i - i / 4) % 62];
  return bytes;
}

TEST_F(HbaRender, EveryEntryOfAPatternFilledOutput) {
  EXPECT_EQ(hbaapi_field_count(counts, 'Z'), 0);
  EXPECT_EQ(hbaapi_field_count(counts, '\0'), 0);
  const std::vector<unsigned char> unterminated(4, 'x');
  for (const auto& row : testing::read_rows("unit/hbaapi/rendered.txt")) {
    const char letter = row[0][0];
    const std::string text = row.size() > 1 ? row[1] : "";
    const std::size_t size = hbaapi_output_size(letter);
    const auto bytes = patterned(size > 0 ? size : 64);
    EXPECT_EQ(assemble({{letter, bytes.data(), bytes.size()}}, 0), text) << letter;
  }
  EXPECT_EQ(assemble({{'C', unterminated.data(), unterminated.size()}}, 0), "xxxx");
}

// One field of the port attributes; a bar inside a text shifts the later
// fields.
TEST_F(HbaRender, OneFieldOfThePortAttributes) {
  for (const auto& row : testing::read_rows("unit/hbaapi/port_field.txt")) {
    auto p = patterned(632);
    if (row[0] == "bar") p[97] = '|';
    EXPECT_EQ(assemble({{'P', p.data(), p.size()}}, std::stoll(row[1])), row[2])
        << row[0] << " " << row[1];
  }
}

}  // namespace
}  // namespace tavro
