// The call forms of the HBA API functions: each casts the function's address
// to a function type whose parameters have the real types of the letters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "hbaapi_bridge/params.h"

namespace tavro {

// One argument as it is passed: a number of the kind's width, or a pointer
// (a text parameter or an output buffer).
struct HbaArg {
  HbaParamKind kind = HbaParamKind::kU32;
  std::uint64_t number = 0;
  void* pointer = nullptr;
};

inline HbaArg hbaapi_arg(HbaParam& param) {
  if (param.kind == HbaParamKind::kText) return {param.kind, 0, param.text.data()};
  return {param.kind, param.number, nullptr};
}

enum class HbaResult : std::uint8_t {
  kStatus,   // the function returned an HBA status
  kValue,    // the function returned a value that is the call's only output
  kNothing,  // the function returns nothing
  kBadForm,  // the call kind is none of the call forms; nothing was called
  kFaulted,  // the function faulted; the call was abandoned
};

struct HbaOutcome {
  HbaResult result = HbaResult::kBadForm;
  std::uint32_t value = 0;  // the status or the value
};

// Calls the function at address by the form of call_kind, as the function
// type of its signature (the row's type letters) in the standard's
// declarations: the inputs in order, then the output buffers in order.
// kBadForm, without a call, for a call kind that is no call form, a
// signature without a known function type, or counts that do not match.
HbaOutcome hbaapi_call_form(std::uint16_t call_kind, const char* signature, void* address,
                            std::span<const HbaArg> inputs, std::span<void* const> outputs);

}  // namespace tavro
