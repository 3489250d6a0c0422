// Each call form reaches a function of the standard's parameter types with
// the values in place.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

// clang-format off
#include <time.h>
#include <hbaapi.h>
// clang-format on

#include "hbaapi_bridge/call_forms.h"

namespace tavro {
namespace {

struct Seen {
  std::vector<std::uint64_t> values;
  std::string text;
  void* output = nullptr;
};
Seen seen;

HBA_UINT32 get_version() {
  seen.values = {0};
  return 7;
}
HBA_HANDLE open_adapter(char* name) {
  seen.text = name;
  return 0x10000;
}
void close_adapter(HBA_HANDLE h) {
  seen.values = {h};
}
HBA_STATUS adapter_attributes(HBA_HANDLE h, HBA_ADAPTERATTRIBUTES* out) {
  seen.values = {h};
  seen.output = out;
  return 0;
}
void reset_statistics(HBA_HANDLE h, HBA_UINT32 port) {
  seen.values = {h, port};
}
HBA_STATUS port_statistics(HBA_HANDLE h, HBA_UINT32 port, HBA_PORTSTATISTICS* out) {
  seen.values = {h, port};
  seen.output = out;
  return 6;
}
HBA_STATUS discovered_port(HBA_HANDLE h, HBA_UINT32 port, HBA_UINT32 index,
                           HBA_PORTATTRIBUTES* out) {
  seen.values = {h, port, index};
  seen.output = out;
  return 0;
}
HBA_STATUS crash() {
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
  alignas(8) unsigned char buffer[2192];
  void* out[] = {buffer};
  struct Case {
    std::uint16_t kind;
    const char* signature;
    void* address;
    std::vector<HbaArg> inputs;
    std::size_t outputs;
    HbaResult result;
    std::uint32_t value;
    std::vector<std::uint64_t> values;
  };
  const Case cases[] = {
      {0x001, ".S", address(get_version), {}, 0, HbaResult::kStatus, 7, {0}},
      {0x002, ".u", address(get_version), {}, 0, HbaResult::kValue, 7, {0}},
      {0x100, "H.N", address(close_adapter), {u32(0x10000)}, 0, HbaResult::kNothing, 0, {0x10000}},
      {0x103,
       "C.H",
       address(open_adapter),
       {{HbaParamKind::kText, 0, name}},
       0,
       HbaResult::kValue,
       0x10000,
       {}},
      {0x111,
       "HA.S",
       address(adapter_attributes),
       {u32(0xFFFFFFFF)},
       1,
       HbaResult::kStatus,
       0,
       {0xFFFFFFFF}},
      {0x200,
       "Hu.N",
       address(reset_statistics),
       {u32(1), u32(2)},
       0,
       HbaResult::kNothing,
       0,
       {1, 2}},
      {0x211,
       "HuT.S",
       address(port_statistics),
       {u32(1), u32(2)},
       1,
       HbaResult::kStatus,
       6,
       {1, 2}},
      {0x311,
       "HuuP.S",
       address(discovered_port),
       {u32(1), u32(2), u32(3)},
       1,
       HbaResult::kStatus,
       0,
       {1, 2, 3}},
  };
  for (const Case& c : cases) {
    seen = Seen{};
    HbaOutcome got = hbaapi_call_form(c.kind, c.signature, c.address, c.inputs,
                                      std::span<void* const>(out, c.outputs));
    EXPECT_EQ(got.result, c.result) << c.signature;
    EXPECT_EQ(got.value, c.value) << c.signature;
    if (!c.values.empty()) {
      EXPECT_EQ(seen.values, c.values) << c.signature;
    }
    EXPECT_EQ(seen.output, c.outputs == 1 ? buffer : nullptr) << c.signature;
  }
  EXPECT_EQ(seen.text, std::string());  // only the open took a text
}

TEST(HbaCallForms, TextInputArrives) {
  char name[256] = "/pvd/pci2/dev5/fcp0";
  HbaArg arg{HbaParamKind::kText, 0, name};
  seen = Seen{};
  hbaapi_call_form(0x103, "C.H", address(open_adapter), std::span<const HbaArg>(&arg, 1), {});
  EXPECT_EQ(seen.text, "/pvd/pci2/dev5/fcp0");
}

TEST(HbaCallForms, OtherKindsSignaturesAndMismatchedCountsCallNothing) {
  unsigned char buffer[8];
  void* out[] = {buffer, buffer};
  HbaArg in[] = {u32(1), u32(2)};
  seen = Seen{};
  EXPECT_EQ(hbaapi_call_form(0x221, "HuuE.S", address(port_statistics), in, out).result,
            HbaResult::kBadForm);
  EXPECT_EQ(
      hbaapi_call_form(0x211, "HWP.S", address(port_statistics), in, std::span<void* const>(out, 1))
          .result,
      HbaResult::kBadForm);
  EXPECT_EQ(hbaapi_call_form(0x211, "HuT.S", address(port_statistics),
                             std::span<const HbaArg>(in, 1), std::span<void* const>(out, 1))
                .result,
            HbaResult::kBadForm);
  EXPECT_TRUE(seen.values.empty());
}

TEST(HbaCallForms, AFaultInsideTheFunctionIsReported) {
  EXPECT_EQ(hbaapi_call_form(0x001, ".S", address(crash), {}, {}).result, HbaResult::kFaulted);
  EXPECT_EQ(hbaapi_call_form(0x001, ".S", nullptr, {}, {}).result, HbaResult::kFaulted);
}

}  // namespace
}  // namespace tavro
