#include "hbaapi_bridge/params.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "hbaapi_bridge/render.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

TEST(HbaParams, NumbersByLetter) {
  const std::map<std::string, HbaParamKind> kinds = {
      {"U8", HbaParamKind::kU8}, {"U32", HbaParamKind::kU32}, {"U64", HbaParamKind::kU64}};
  for (const auto& row : testing::read_rows("unit/hbaapi/params.txt")) {
    HbaParam p;
    const bool ok = row[2] != "refused";
    EXPECT_EQ(hbaapi_parse_param(row[0][0], row[1].c_str(), p, nullptr), ok) << row[0] << row[1];
    if (!ok) continue;
    EXPECT_EQ(p.kind, kinds.at(row[2])) << row[0] << row[1];
    EXPECT_EQ(p.number, std::stoull(row[3], nullptr, 0)) << row[0] << row[1];
  }
}

TEST(HbaParams, TextLettersPassTheTokenOrTheirNotImplementedText) {
  std::string texts;
  for (char letter : std::string("ABEGIMNPRSTWYxC")) {
    HbaParam p;
    ASSERT_TRUE(hbaapi_parse_param(letter, "/pvd/pci2/dev5/fcp0", p, nullptr));
    EXPECT_EQ(p.kind, HbaParamKind::kText) << letter;
    EXPECT_GE(p.text.size(), 256u) << letter;  // room for an adapter name the library may write
    texts += letter + (":" + std::string(p.text.c_str())) + " ";
  }
  EXPECT_EQ(texts,
            "A:NI_L915 B:NI_L922 E:NI_L935 G:NI_L942 I:NI_L956 M:NI_L969 N:NI_L976 P:NI_L983 "
            "R:NI_L990 S:NI_L997 T:NI_L1004 W:NI_L1029 Y:NI_L1036 x:NI_L1043 "
            "C:/pvd/pci2/dev5/fcp0 ");
}

TEST(HbaParams, OutputBuffersHaveTheStructureSizes) {
  std::string sizes;
  for (char letter : std::string("ABCEHSUYuIMPRTVWNG")) {
    sizes += letter + std::to_string(hbaapi_output_size(letter)) + " ";
    EXPECT_EQ(hbaapi_alloc_output(letter) == nullptr, hbaapi_output_size(letter) == 0) << letter;
  }
  EXPECT_EQ(sizes, "A2192 B2504 C0 E160 H4 S4 U4 Y4 u4 I44 M2440 P632 R4096 T120 V1 W8 N0 G0 ");
}

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
