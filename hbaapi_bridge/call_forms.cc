#include "hbaapi_bridge/call_forms.h"

#include "platform/guarded_call.h"

namespace tavro {
namespace {

struct CallForm {
  std::uint16_t call_kind;
  HbaResult result;
};
constexpr CallForm kCallForms[] = {
    {0x001, HbaResult::kStatus},   // f()
    {0x002, HbaResult::kValue},    // r = f()
    {0x100, HbaResult::kNothing},  // f(in1)
    {0x103, HbaResult::kValue},    // r = f(in1)
    {0x111, HbaResult::kStatus},   // f(in1, out1)
    {0x200, HbaResult::kNothing},  // f(in1, in2)
    {0x211, HbaResult::kStatus},   // f(in1, in2, out1)
    {0x311, HbaResult::kStatus},   // f(in1, in2, in3, out1)
    {0, HbaResult::kBadForm},
};

constexpr std::size_t kMaxInputs = 3;
constexpr std::size_t kMaxOutputs = 1;

// The typed inputs are in place; the outputs are pointers.
template <typename R, typename... In>
R call_with_outputs(void* address, void* const* outputs, std::size_t count, In... in) {
  if (count == 0) return reinterpret_cast<R (*)(In...)>(address)(in...);
  return reinterpret_cast<R (*)(In..., void*)>(address)(in..., outputs[0]);
}

// Adds the next input with the type of its kind, then the rest.
template <typename R, typename... In>
R call_typed(void* address, const HbaArg* args, std::size_t count, std::span<void* const> outputs,
             In... in) {
  if constexpr (sizeof...(In) < kMaxInputs) {
    if (count > 0) {
      const HbaArg& a = args[0];
      switch (a.kind) {
        case HbaParamKind::kU8:
          return call_typed<R>(address, args + 1, count - 1, outputs, in...,
                               static_cast<std::uint8_t>(a.number));
        case HbaParamKind::kU64:
          return call_typed<R>(address, args + 1, count - 1, outputs, in...,
                               static_cast<std::uint64_t>(a.number));
        case HbaParamKind::kText:
          return call_typed<R>(address, args + 1, count - 1, outputs, in...,
                               static_cast<char*>(a.pointer));
        case HbaParamKind::kU32:
          return call_typed<R>(address, args + 1, count - 1, outputs, in...,
                               static_cast<std::uint32_t>(a.number));
      }
    }
  }
  return call_with_outputs<R>(address, outputs.data(), outputs.size(), in...);
}

struct Invocation {
  void* address;
  std::span<const HbaArg> inputs;
  std::span<void* const> outputs;
  bool returns;
  std::uint32_t value;
};

void invoke(void* context) {
  auto& call = *static_cast<Invocation*>(context);
  if (call.returns) {
    call.value = call_typed<std::uint32_t>(call.address, call.inputs.data(), call.inputs.size(),
                                           call.outputs);
  } else {
    call_typed<void>(call.address, call.inputs.data(), call.inputs.size(), call.outputs);
  }
}

}  // namespace

HbaOutcome hbaapi_call_form(std::uint16_t call_kind, void* address, std::span<const HbaArg> inputs,
                            std::span<void* const> outputs) {
  const CallForm* form = kCallForms;
  while (form->call_kind != 0 && form->call_kind != call_kind) ++form;
  const std::size_t in_count = (call_kind >> 8) & 0xF;
  const std::size_t out_count = (call_kind >> 4) & 0xF;
  if (form->call_kind == 0 || inputs.size() != in_count || outputs.size() != out_count ||
      in_count > kMaxInputs || out_count > kMaxOutputs) {
    return {HbaResult::kBadForm, 0};
  }
  Invocation call{address, inputs, outputs, form->result != HbaResult::kNothing, 0};
  if (address == nullptr ||
      platform::run_guarded(invoke, &call) == platform::CallResult::kFaulted) {
    return {HbaResult::kFaulted, 0};
  }
  return {form->result, call.value};
}

}  // namespace tavro
