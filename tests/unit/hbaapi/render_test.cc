#include "hbaapi_bridge/render.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "hbaapi_bridge/params.h"

namespace tavro {
namespace {

class HbaRender : public ::testing::Test {
 protected:
  void SetUp() override { hbaapi_count_fields(counts, nullptr); }

  std::string assemble(const std::vector<HbaOutput>& outputs, long long field,
                       std::size_t cap = 4097) {
    std::vector<char> out(cap);
    hbaapi_assemble(outputs, field, counts, nullptr, out.data(), cap);
    return out.data();
  }

  HbaFieldCounts counts{};
};

// A zero-filled output shows each field's type, count and separator.
TEST_F(HbaRender, EveryEntryOfAZeroFilledOutput) {
  EXPECT_EQ(hbaapi_field_count(counts, 'Z'), 0);
  EXPECT_EQ(hbaapi_field_count(counts, '\0'), 0);
  const std::pair<char, std::string> kZero[] = {
      {'A', "||||0000000000000000||||||00000000|0|"},
      {'B', "0|00000000||0|0|0|000000|0000000000000000|0000000000000000|0000000000000000|000000"},
      {'C', ""},
      {'E', "00000000|00000000000000000000000000000000"},
      {'l', "00000000|000000"},
      {'r', "00000000|000000|00000000"},
      {'p', "00000000|00000000:00000000:00000000:00000000"},
      {'G', ""},
      {'H', "00000000"},
      {'I', "0000000000000000|00000000|00000000|0|0000|0000|00000000000000000000000000000000|0000"},
      {'L', "0000000000000000"},
      {'M', "0||0|0|0|000000|0000000000000000|0000000000000000|0000000000000000"},
      {'N', ""},
      {'P', "0000000000000000|0000000000000000|000000|00000000|00000000|00000000|" +
                std::string(64, '0') + "|" + std::string(64, '0') +
                "|||00000000|00000000|00000000|0000000000000000|0"},
      {'R', std::string(128, '0')},
      {'S', "0"},
      {'T', "0|0|0|0|0|0|0|0|0|0|0|0|0|0|0"},
      {'U', "00000000"},
      {'u', "0"},
      {'V', "00"},
      {'W', "0000000000000000"},
      {'Y', "00000000"},
      {'Z', "UNKNOWN_TYPE(Z)"},
  };
  const std::vector<unsigned char> zeros(4096, 0), unterminated(4, 'x');
  for (const auto& [letter, text] : kZero) {
    EXPECT_EQ(assemble({{letter, zeros.data(), zeros.size()}}, 0), text) << letter;
  }
  EXPECT_EQ(assemble({{'C', unterminated.data(), unterminated.size()}}, 0), "xxxx");
}

// Port attributes with values at the standard's offsets.
std::vector<unsigned char> port_attributes(const char* symbolic_name) {
  std::vector<unsigned char> p(632, 0);
  const unsigned char wwns[] = {0x20, 0, 0, 0xE0, 0x8B, 1, 2, 3, 0x21, 0, 0, 0xE0, 0x8B, 1, 2, 3};
  std::memcpy(&p[0], wwns, sizeof wwns);
  const std::uint32_t words[][2] = {{16, 0x010200}, {20, 5},  {24, 2},     {28, 8},
                                    {608, 3},       {612, 2}, {616, 2048}, {628, 3}};
  for (const auto& w : words) std::memcpy(&p[w[0]], &w[1], 4);
  std::strcpy(reinterpret_cast<char*>(&p[96]), symbolic_name);
  std::strcpy(reinterpret_cast<char*>(&p[352]), "host0");
  std::memset(&p[620], 0x10, 1);
  return p;
}

TEST_F(HbaRender, PortAttributesWholeOrOneField) {
  const std::string fc4(64, '0');
  const struct {
    const char* name;
    long long field;
    std::string text;
  } kCases[] = {
      {"Port A", 0,
       "200000E08B010203|210000E08B010203|010200|00000005|00000002|00000008|" + fc4 + "|" + fc4 +
           "|Port A|host0|00000003|00000002|00000800|1000000000000000|3"},
      {"Port A", 9, "Port A"},
      {"Port A", 12, "00000002"},
      {"Port A", 15, "3"},
      {"Port A", 16, "Error: Field Index Out of Range (16)"},
      {"Port A", -1, "Error: Field Index Out of Range (-1)"},
      // A bar inside a text shifts the later fields.
      {"Port|A", 9, "Port"},
      {"Port|A", 10, "A"},
      {"Port|A", 12, "00000003"},
      {"Port|A", 15, "1000000000000000"},
  };
  for (const auto& c : kCases) {
    auto p = port_attributes(c.name);
    EXPECT_EQ(assemble({{'P', p.data(), p.size()}}, c.field), c.text) << c.name << " " << c.field;
  }
}

TEST_F(HbaRender, FieldsAreNumberedAcrossOutputsAndACutOffFieldIsNotFound) {
  const std::uint32_t handle = 0x10000;
  std::vector<unsigned char> stats(120, 0);
  const std::int64_t tx = -5;
  std::memcpy(&stats[8], &tx, 8);
  std::vector<HbaOutput> out{{'H', reinterpret_cast<const unsigned char*>(&handle), 4},
                             {'T', stats.data(), stats.size()}};
  EXPECT_EQ(assemble(out, 0), "00010000.0|-5|0|0|0|0|0|0|0|0|0|0|0|0|0");
  EXPECT_EQ(assemble(out, 1), "00010000");
  EXPECT_EQ(assemble(out, 3), "-5");
  EXPECT_EQ(assemble(out, 16), "0");
  EXPECT_EQ(assemble(out, 17), "Error: Field Index Out of Range (17)");

  // A field cut off by the reply size is not found.
  const std::int64_t max = INT64_MAX;
  for (std::size_t i = 0; i < stats.size(); i += 8) std::memcpy(&stats[i], &max, 8);
  out = {{'T', stats.data(), stats.size()}};
  EXPECT_EQ(assemble(out, 2, 128), "9223372036854775807");
  EXPECT_EQ(assemble(out, 10, 64), "Error: HBAAPI Error: Field Not Found: (10)");
}

// Every field lies inside the output buffer of its letter.
TEST_F(HbaRender, FieldsLieInsideTheirBuffers) {
  for (const char* letter = kHbaStructLetters; *letter != '\0'; ++letter) {
    const std::size_t size = hbaapi_output_size(*letter);
    for (int i = 0; size > 0 && i < hbaapi_field_count(counts, *letter); ++i) {
      const HbaField& f = apistructs[letter - kHbaStructLetters].fields[i];
      const std::size_t width = f.type == 4 ? 1 : (f.type == 9 ? 8 : (f.type == 3 ? 1 : 4));
      EXPECT_LE(f.offset + width * f.count, size) << *letter << " " << f.name;
    }
  }
}

}  // namespace
}  // namespace tavro
