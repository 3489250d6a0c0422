// The call forms' own guards, which the bridge's table never reaches: a call
// kind or signature that is none of theirs, counts that do not match, or no
// function, call nothing. The forms themselves are checked through the
// daemon (tests/e2e/hbaapi).
#include "hbaapi_bridge/call_forms.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavro {
namespace {

TEST(HbaCallForms, FormsThatDoNotMatchOrNoFunctionCallNothing) {
  unsigned char buffer[2192];
  void* out[] = {buffer, buffer};
  const struct {
    std::uint16_t kind;
    const char* signature;
    std::size_t inputs;
    HbaResult result;
  } cases[] = {
      {0x221, "HuuE.S", 2, HbaResult::kBadForm},
      {0x211, "HWP.S", 2, HbaResult::kBadForm},
      {0x211, "HuT.S", 1, HbaResult::kBadForm},
      {0x001, ".S", 0, HbaResult::kFaulted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signature);
    const std::vector<HbaArg> inputs(c.inputs, HbaArg{HbaParamKind::kU32, 1, nullptr});
    HbaOutcome got = hbaapi_call_form(c.kind, c.signature, nullptr, inputs,
                                      std::span<void* const>(out, (c.kind >> 4) & 0xF));
    EXPECT_EQ(got.result, c.result);
    EXPECT_EQ(got.value, 0u);
  }
}

}  // namespace
}  // namespace tavro
