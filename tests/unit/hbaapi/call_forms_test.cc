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
  void* output = nullptr;
  std::string text;
} seen;

HBA_UINT32 saw(std::vector<std::uint64_t> values, void* output = nullptr, HBA_UINT32 result = 0,
               const char* text = "") {
  seen = {std::move(values), output, text};
  return result;
}

// Functions of the standard's parameter types that note what a call form passes.
struct Fake {
  static HBA_UINT32 version() { return saw({0}, nullptr, 7); }
  static HBA_HANDLE open(char* name) { return saw({}, nullptr, 0x10000, name); }
  static void close(HBA_HANDLE h) { saw({h}); }
  static HBA_STATUS attributes(HBA_HANDLE h, HBA_ADAPTERATTRIBUTES* out) { return saw({h}, out); }
  static void reset(HBA_HANDLE h, HBA_UINT32 port) { saw({h, port}); }
  static HBA_STATUS stats(HBA_HANDLE h, HBA_UINT32 port, HBA_PORTSTATISTICS* out) {
    return saw({h, port}, out, 6);
  }
  static HBA_STATUS discovered(HBA_HANDLE h, HBA_UINT32 port, HBA_UINT32 i, HBA_PORTATTRIBUTES* o) {
    return saw({h, port, i}, o);
  }
  static HBA_STATUS crash() { return static_cast<HBA_STATUS>(std::raise(SIGSEGV)); }
};

void* address(auto* function) {
  return reinterpret_cast<void*>(function);
}

HbaArg u32(std::uint64_t v) {
  return {HbaParamKind::kU32, v, nullptr};
}

TEST(HbaCallForms, EachFormPassesItsArgumentsAndReturnsWhatItsFormReturns) {
  char name[256] = "/pvd/pci2/dev5/fcp0";
  const HbaArg text{HbaParamKind::kText, 0, name};
  alignas(8) unsigned char buffer[2192];
  void* out[] = {buffer, buffer};
  using enum HbaResult;
  const struct {
    std::uint16_t kind;  // as many outputs as it counts are passed
    const char* signature;
    void* address;
    std::vector<HbaArg> inputs;
    HbaResult result;
    std::uint32_t value;
    std::vector<std::uint64_t> values;  // as the function saw them
    const char* text = "";
  } cases[] = {
      {0x001, ".S", address(Fake::version), {}, kStatus, 7, {0}},
      {0x002, ".u", address(Fake::version), {}, kValue, 7, {0}},
      {0x100, "H.N", address(Fake::close), {u32(0x10000)}, kNothing, 0, {0x10000}},
      {0x103, "C.H", address(Fake::open), {text}, kValue, 0x10000, {}, "/pvd/pci2/dev5/fcp0"},
      {0x111, "HA.S", address(Fake::attributes), {u32(0xFFFFFFFF)}, kStatus, 0, {0xFFFFFFFF}},
      {0x200, "Hu.N", address(Fake::reset), {u32(1), u32(2)}, kNothing, 0, {1, 2}},
      {0x211, "HuT.S", address(Fake::stats), {u32(1), u32(2)}, kStatus, 6, {1, 2}},
      {0x311, "HuuP.S", address(Fake::discovered), {u32(1), u32(2), u32(3)}, kStatus, 0, {1, 2, 3}},
      // Other kinds and signatures, and counts that do not match, call nothing.
      {0x221, "HuuE.S", address(Fake::stats), {u32(1), u32(2)}, kBadForm, 0, {}},
      {0x211, "HWP.S", address(Fake::stats), {u32(1), u32(2)}, kBadForm, 0, {}},
      {0x211, "HuT.S", address(Fake::stats), {u32(1)}, kBadForm, 0, {}},
      {0x001, ".S", address(Fake::crash), {}, kFaulted, 0, {}},
      {0x001, ".S", nullptr, {}, kFaulted, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.kind << " " << c.signature);
    seen = Seen{};
    const std::size_t outputs = (c.kind >> 4) & 0xF;
    HbaOutcome got = hbaapi_call_form(c.kind, c.signature, c.address, c.inputs,
                                      std::span<void* const>(out, outputs));
    EXPECT_EQ(got.result, c.result);
    EXPECT_EQ(got.value, c.value);
    EXPECT_EQ(seen.values, c.values);
    EXPECT_EQ(seen.text, c.text);
    EXPECT_EQ(seen.output, outputs == 1 && c.result == kStatus ? buffer : nullptr);
  }
}

}  // namespace
}  // namespace tavro
