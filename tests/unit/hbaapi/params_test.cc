#include "hbaapi_bridge/params.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

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

}  // namespace
}  // namespace tavro
