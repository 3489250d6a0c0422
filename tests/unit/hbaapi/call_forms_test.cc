// Each call form reaches a function of the real parameter types with the
// values in place.
#include "hbaapi_bridge/call_forms.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace tavro {
namespace {

struct Seen {
  std::vector<std::uint64_t> values;
  std::string text;
  void* output = nullptr;
};
Seen seen;

std::uint32_t f0() {
  seen.values.push_back(0);
  return 7;
}
std::uint32_t f_c(char* name) {
  seen.text = name;
  return 0x10000;
}
void f_h(std::uint32_t h) {
  seen.values = {h};
}
std::uint32_t f_hp(std::uint32_t h, void* out) {
  seen.values = {h};
  seen.output = out;
  return 0;
}
void f_vl(std::uint8_t v, std::uint64_t l) {
  seen.values = {v, l};
}
std::uint32_t f_hup(std::uint32_t h, std::uint32_t u, void* out) {
  seen.values = {h, u};
  seen.output = out;
  return 6;
}
std::uint32_t f_huup(std::uint32_t h, std::uint32_t u1, std::uint32_t u2, void* out) {
  seen.values = {h, u1, u2};
  seen.output = out;
  return 0;
}
std::uint32_t f_crash() {
  std::raise(SIGSEGV);
  return 0;
}

void* address(auto* function) {
  return reinterpret_cast<void*>(function);
}

HbaArg u32(std::uint64_t v) {
  return {HbaParamKind::kU32, v, nullptr};
}

TEST(HbaCallForms, EveryFormPassesItsArgumentsAndReturnsWhatTheFormReturns) {
  char name[256] = "/pvd/pci2/dev5/fcp0";
  unsigned char buffer[8];
  void* out[] = {buffer};
  struct Case {
    std::uint16_t kind;
    void* address;
    std::vector<HbaArg> inputs;
    std::size_t outputs;
    HbaResult result;
    std::uint32_t value;
    std::vector<std::uint64_t> values;
  };
  const Case cases[] = {
      {0x001, address(f0), {}, 0, HbaResult::kStatus, 7, {0}},
      {0x002, address(f0), {}, 0, HbaResult::kValue, 7, {0}},
      {0x100, address(f_h), {u32(0x10000)}, 0, HbaResult::kNothing, 0, {0x10000}},
      {0x103, address(f_c), {{HbaParamKind::kText, 0, name}}, 0, HbaResult::kValue, 0x10000, {}},
      {0x111, address(f_hp), {u32(0xFFFFFFFF)}, 1, HbaResult::kStatus, 0, {0xFFFFFFFF}},
      {0x200,
       address(f_vl),
       {{HbaParamKind::kU8, 255, nullptr}, {HbaParamKind::kU64, 0xFFFFFFFF, nullptr}},
       0,
       HbaResult::kNothing,
       0,
       {255, 0xFFFFFFFF}},
      {0x211, address(f_hup), {u32(1), u32(2)}, 1, HbaResult::kStatus, 6, {1, 2}},
      {0x311, address(f_huup), {u32(1), u32(2), u32(3)}, 1, HbaResult::kStatus, 0, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    seen = Seen{};
    HbaOutcome got =
        hbaapi_call_form(c.kind, c.address, c.inputs, std::span<void* const>(out, c.outputs));
    EXPECT_EQ(got.result, c.result) << std::hex << c.kind;
    EXPECT_EQ(got.value, c.value) << std::hex << c.kind;
    if (!c.values.empty()) {
      EXPECT_EQ(seen.values, c.values) << std::hex << c.kind;
    }
    EXPECT_EQ(seen.output, c.outputs == 1 ? buffer : nullptr) << std::hex << c.kind;
  }
  EXPECT_EQ(seen.text, std::string());  // the last case took no text
}

TEST(HbaCallForms, TextInputArrives) {
  char name[256] = "/pvd/pci2/dev5/fcp0";
  HbaArg arg{HbaParamKind::kText, 0, name};
  seen = Seen{};
  hbaapi_call_form(0x103, address(f_c), std::span<const HbaArg>(&arg, 1), {});
  EXPECT_EQ(seen.text, "/pvd/pci2/dev5/fcp0");
}

TEST(HbaCallForms, OtherKindsAndMismatchedCountsCallNothing) {
  unsigned char buffer[8];
  void* out[] = {buffer, buffer};
  HbaArg in[] = {u32(1), u32(2)};
  seen = Seen{};
  EXPECT_EQ(hbaapi_call_form(0x221, address(f_hup), in, out).result, HbaResult::kBadForm);
  EXPECT_EQ(hbaapi_call_form(0x321, address(f_hup), in, out).result, HbaResult::kBadForm);
  EXPECT_EQ(hbaapi_call_form(0x211, address(f_hup), std::span<const HbaArg>(in, 1),
                             std::span<void* const>(out, 1))
                .result,
            HbaResult::kBadForm);
  EXPECT_TRUE(seen.values.empty());
}

TEST(HbaCallForms, AFaultInsideTheFunctionIsReported) {
  EXPECT_EQ(hbaapi_call_form(0x001, address(f_crash), {}, {}).result, HbaResult::kFaulted);
  EXPECT_EQ(hbaapi_call_form(0x001, nullptr, {}, {}).result, HbaResult::kFaulted);
}

}  // namespace
}  // namespace tavro
