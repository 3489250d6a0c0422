#include "hbaapi_bridge/params.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

using Kind = HbaParamKind;

struct ParamCase {
  char letter;
  const char* token;
  bool ok;
  Kind kind;
  std::uint64_t number;
};

// Numbers are read as strtol reads them and refused when they do not fit.
constexpr ParamCase kParamCases[] = {
    {'u', "42", true, Kind::kU32, 42},
    {'u', "  +12", true, Kind::kU32, 12},
    {'u', "-7x", true, Kind::kU32, 0xFFFFFFF9},
    {'u', "abc", true, Kind::kU32, 0},
    {'u', "4294967295", true, Kind::kU32, 0xFFFFFFFF},
    {'u', "4294967296", false, Kind::kU32, 0},
    {'u', "-2147483649", false, Kind::kU32, 0},
    {'u', "99999999999999999999", false, Kind::kU32, 0},
    {'H', "10000", true, Kind::kU32, 0x10000},
    {'H', "0x1F", true, Kind::kU32, 0x1F},
    {'H', "ffffffffz", true, Kind::kU32, 0xFFFFFFFF},
    {'H', "100000000", false, Kind::kU32, 0},
    {'U', "Ab", true, Kind::kU32, 0xAB},
    {'V', "255", true, Kind::kU8, 255},
    {'V', "-1", true, Kind::kU8, 255},
    {'V', "256", false, Kind::kU8, 0},
    {'L', "5", true, Kind::kU64, 5},
    {'L', "-1", true, Kind::kU64, 0xFFFFFFFF},
    {'L', "4294967296", false, Kind::kU64, 0},
};

TEST(HbaParams, NumbersByLetter) {
  for (const ParamCase& c : kParamCases) {
    HbaParam p;
    EXPECT_EQ(hbaapi_parse_param(c.letter, c.token, p, nullptr), c.ok) << c.letter << c.token;
    if (!c.ok) continue;
    EXPECT_EQ(p.kind, c.kind) << c.letter << c.token;
    EXPECT_EQ(p.number, c.number) << c.letter << c.token;
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

}  // namespace
}  // namespace tavro
