#include "hbaapi_bridge/call_forms.h"

#include <cstring>
#include <type_traits>
#include <utility>

// clang-format off
#include <time.h>  // hbaapi.h uses struct tm without including it
#include <hbaapi.h>
// clang-format on

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

// One argument as the parameter's own type.
template <typename T>
T take(const HbaArg& arg) {
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<T>(arg.pointer);
  } else {
    return static_cast<T>(arg.number);
  }
}

// Calls the function as R(P...), the arguments in order.
template <typename R, typename... P, std::size_t... I>
std::uint32_t call_as(void* address, const HbaArg* args, std::index_sequence<I...>) {
  auto function = reinterpret_cast<R (*)(P...)>(address);
  if constexpr (std::is_void_v<R>) {
    function(take<P>(args[I])...);
    return 0;
  } else {
    return function(take<P>(args[I])...);
  }
}

template <typename R, typename... P>
std::uint32_t call_as(void* address, const HbaArg* args) {
  return call_as<R, P...>(address, args, std::index_sequence_for<P...>{});
}

using Invoker = std::uint32_t (*)(void* address, const HbaArg* args);

// The function type of each signature the call forms serve, with the types
// of the standard's declarations: inputs, then outputs.
struct TypedCall {
  const char* signature;
  Invoker invoke;
};
constexpr TypedCall kTypedCalls[] = {
    {".u", call_as<HBA_UINT32>},
    {".S", call_as<HBA_STATUS>},
    {"uC.S", call_as<HBA_STATUS, HBA_UINT32, char*>},
    {"C.H", call_as<HBA_HANDLE, char*>},
    {"H.N", call_as<void, HBA_HANDLE>},
    {"Hu.N", call_as<void, HBA_HANDLE, HBA_UINT32>},
    {"HA.S", call_as<HBA_STATUS, HBA_HANDLE, HBA_ADAPTERATTRIBUTES*>},
    {"HuP.S", call_as<HBA_STATUS, HBA_HANDLE, HBA_UINT32, HBA_PORTATTRIBUTES*>},
    {"HuT.S", call_as<HBA_STATUS, HBA_HANDLE, HBA_UINT32, HBA_PORTSTATISTICS*>},
    {"HuuP.S", call_as<HBA_STATUS, HBA_HANDLE, HBA_UINT32, HBA_UINT32, HBA_PORTATTRIBUTES*>},
    {"HM.S", call_as<HBA_STATUS, HBA_HANDLE, HBA_FCPTARGETMAPPING*>},
    {"HB.S", call_as<HBA_STATUS, HBA_HANDLE, HBA_FCPBINDING*>},
    {"HI.S", call_as<HBA_STATUS, HBA_HANDLE, HBA_MGMTINFO*>},
    {nullptr, nullptr},
};

constexpr std::size_t kMaxArgs = 4;

struct Invocation {
  Invoker invoke;
  void* address;
  HbaArg args[kMaxArgs];
  std::uint32_t value;
};

void invoke(void* context) {
  auto& call = *static_cast<Invocation*>(context);
  call.value = call.invoke(call.address, call.args);
}

}  // namespace

HbaOutcome hbaapi_call_form(std::uint16_t call_kind, const char* signature, void* address,
                            std::span<const HbaArg> inputs, std::span<void* const> outputs) {
  const CallForm* form = kCallForms;
  while (form->call_kind != 0 && form->call_kind != call_kind) ++form;
  const TypedCall* typed = kTypedCalls;
  while (typed->signature != nullptr && std::strcmp(typed->signature, signature) != 0) ++typed;
  const std::size_t in_count = (call_kind >> 8) & 0xF;
  const std::size_t out_count = (call_kind >> 4) & 0xF;
  if (form->call_kind == 0 || typed->signature == nullptr || inputs.size() != in_count ||
      outputs.size() != out_count || in_count + out_count > kMaxArgs) {
    return {HbaResult::kBadForm, 0};
  }
  Invocation call{typed->invoke, address, {}, 0};
  for (std::size_t i = 0; i < in_count; ++i) call.args[i] = inputs[i];
  for (std::size_t i = 0; i < out_count; ++i) call.args[in_count + i].pointer = outputs[i];
  if (address == nullptr ||
      platform::run_guarded(invoke, &call) == platform::CallResult::kFaulted) {
    return {HbaResult::kFaulted, 0};
  }
  return {form->result, form->result == HbaResult::kNothing ? 0 : call.value};
}

}  // namespace tavro
