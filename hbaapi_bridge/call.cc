// The generic caller: parses the inputs, allocates the outputs, calls the
// function by its call form and renders what it returned.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/diag.h"
#include "base/message.h"
#include "hbaapi_bridge/call_forms.h"
#include "hbaapi_bridge/hbaapi.h"

namespace tavro {
namespace {

constexpr std::uint32_t kTrace = 0x400000;
constexpr int kMaxParams = 16;  // the call kind counts up to 15 of each

// The parameters of one call and the buffers they point to.
struct CallParams {
  HbaParam inputs[kMaxParams];
  HbaArg args[kMaxParams];
  std::unique_ptr<unsigned char[]> buffers[kMaxParams];
  void* outputs[kMaxParams] = {};
  HbaOutput rendered[kMaxParams] = {};
  int input_count = 0;
  int output_count = 0;
};

int refuse(HbaApiRequest& request, const char* token) {
  char text[kMessageSize + 1];
  std::snprintf(text, sizeof text, "%sParameter out of range(%s).", "Error: ", token);
  return api_reply(request, text, 1);
}

void trace_call(const Diag& diag, const HbaApiFunction& row, const CallParams& params) {
  if (!diag.on(kTrace)) return;
  diag.print("HBAAPI: calling: %s(", row.name);
  for (int i = 0; i < params.input_count; ++i) {
    const HbaArg& a = params.args[i];
    const auto value = a.kind == HbaParamKind::kText ? reinterpret_cast<std::uintptr_t>(a.pointer)
                                                     : static_cast<std::uintptr_t>(a.number);
    diag.print("\t0x%X,", static_cast<unsigned>(value));
  }
  diag.print("\t)\n");
}

// A size that follows a buffer input ('R' then 'u') is that buffer's size to
// the library: it may not exceed what is really passed.
bool within_buffer(const HbaApiFunction& row, const CallParams& params, int i) {
  if (i == 0 || row.signature[i] != 'u' || row.signature[i - 1] != 'R') return true;
  return params.inputs[i].number <= params.inputs[i - 1].text.size();
}

// Parses the inputs; returns the position of a token that does not fit, or -1.
int parse_inputs(HbaApiRequest& request, const HbaApiFunction& row, CallParams& params) {
  params.input_count = hbaapi_inputs(row);
  for (int i = 0; i < params.input_count; ++i) {
    const char* token = request.tokens[2 + i];
    if (!hbaapi_parse_param(row.signature[i], token, params.inputs[i], &request.api.diag()) ||
        !within_buffer(row, params, i)) {
      return 2 + i;
    }
    params.args[i] = hbaapi_arg(params.inputs[i]);
  }
  return -1;
}

// Allocates the outputs; returns the position of one that failed, or -1. A
// 'C' output is the reply buffer itself.
int alloc_outputs(HbaApiRequest& request, const HbaApiFunction& row, CallParams& params) {
  params.output_count = hbaapi_outputs(row);
  for (int i = 0; i < params.output_count; ++i) {
    const char letter = row.signature[params.input_count + i];
    if (letter == 'C') {
      std::memset(request.reply, 0, request.cap);
      params.outputs[i] = request.reply;
      params.rendered[i] = {letter, reinterpret_cast<unsigned char*>(request.reply), request.cap};
      continue;
    }
    params.buffers[i] = hbaapi_alloc_output(letter);
    if (params.buffers[i] == nullptr) return i;
    params.outputs[i] = params.buffers[i].get();
    params.rendered[i] = {letter, params.buffers[i].get(), hbaapi_output_size(letter)};
  }
  return -1;
}

// The letter after '.', which renders a returned value.
char result_letter(const HbaApiFunction& row) {
  const char* dot = std::strchr(row.signature, '.');
  return dot != nullptr ? dot[1] : '\0';
}

}  // namespace

int hbaapi_call(HbaApiRequest& request, const HbaApiFunction& row) {
  HbaApi& api = request.api;
  const HbaNumber field = hbaapi_read_number(request.tokens[1], 10);
  if (!field.fits) return refuse(request, request.tokens[1]);
  auto params = std::make_unique<CallParams>();
  if (int bad = parse_inputs(request, row, *params); bad >= 0) {
    return refuse(request, request.tokens[bad]);
  }
  char text[kMessageSize + 1];
  if (int failed = alloc_outputs(request, row, *params); failed >= 0) {
    std::snprintf(text, sizeof text, "%sHBAAPI Error Parameter Allocation [%d].",
                  "Error: ", failed);
    return api_reply(request, text, 1);
  }
  if (params->output_count == 0) request.reply[0] = '\0';
  trace_call(api.diag(), row, *params);
  const int number = static_cast<int>(&row - hbaapi_function_table);
  HbaOutcome outcome = hbaapi_call_form(
      row.call_kind, row.signature, api.address(number),
      std::span<const HbaArg>(params->args, static_cast<std::size_t>(params->input_count)),
      std::span<void* const>(params->outputs, static_cast<std::size_t>(params->output_count)));
  request.reply[request.cap - 1] = '\0';
  std::uint32_t value = outcome.value;
  switch (outcome.result) {
    case HbaResult::kBadForm:
      std::snprintf(text, sizeof text, "%sHBAAPI Error Bad Func Type (0x%03x).",
                    "Error: ", row.call_kind);
      return api_reply(request, text, 1);
    case HbaResult::kFaulted:
      api.note_exception(row.name);
      std::snprintf(text, sizeof text, "%sHBAAPI Error:Program Exception in %s",
                    "Error: ", row.name);
      return api_reply(request, text, 1);
    case HbaResult::kStatus:
      if (value != 0) {
        char status[32];
        hbaapi_status_text(value, status, sizeof status);
        std::snprintf(text, sizeof text, "%sHBAAPI Error:%s (%d)", "Error: ", status,
                      static_cast<int>(value));
        return api_reply(request, text, 1);
      }
      break;
    case HbaResult::kValue:
      params->output_count = 1;
      params->rendered[0] = {result_letter(row), reinterpret_cast<unsigned char*>(&value),
                             sizeof value};
      break;
    case HbaResult::kNothing:
      break;
  }
  hbaapi_assemble(
      std::span<const HbaOutput>(params->rendered, static_cast<std::size_t>(params->output_count)),
      field.value, api.field_counts(), &api.diag(), text, sizeof text);
  return api_reply(request, text, 0);
}

}  // namespace tavro
