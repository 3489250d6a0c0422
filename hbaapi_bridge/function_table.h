// The HBA API functions a client may call by number, and how each is called.
#pragma once

#include <cstdint>

namespace tavro {

struct HbaApiRequest;
struct HbaApiFunction;

// A row's caller: serves the request and sends the reply; 0 when the call's
// outputs were rendered, 1 otherwise.
using HbaApiCaller = int (*)(HbaApiRequest& request, const HbaApiFunction& row);

int hbaapi_call(HbaApiRequest& request, const HbaApiFunction& row);
int hbaapi_not_implemented(HbaApiRequest& request, const HbaApiFunction& row);

struct HbaApiFunction {
  const char* name;  // the exported name looked up in the library
  HbaApiCaller caller;
  // Bits 8 to 11: number of inputs, bits 4 to 7: number of outputs; the whole
  // word selects the call form.
  std::uint16_t call_kind;
  // Type letters of the inputs, then the outputs, then '.' and the letter of
  // the function's own result.
  const char* signature;
};

inline constexpr int kHbaApiFunctionCount = 24;

// Indexed by function number; ends with an all-zero row.
extern const HbaApiFunction hbaapi_function_table[kHbaApiFunctionCount + 1];

inline int hbaapi_inputs(const HbaApiFunction& row) {
  return (row.call_kind >> 8) & 0xF;
}
inline int hbaapi_outputs(const HbaApiFunction& row) {
  return (row.call_kind >> 4) & 0xF;
}

// Rows the bridge calls itself when it loads and releases the library.
inline constexpr int kHbaLoadLibrary = 1;
inline constexpr int kHbaFreeLibrary = 2;

}  // namespace tavro
