#include "hbaapi_bridge/params.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/diag.h"

namespace tavro {
namespace {

struct UnparsedLetter {
  char letter;
  int number;
};
// Letters without a parsed form, and the number of their "NI_L" text.
constexpr UnparsedLetter kUnparsed[] = {
    {'A', 915}, {'B', 922}, {'E', 935}, {'G', 942},  {'I', 956},  {'M', 969},  {'N', 976},
    {'P', 983}, {'R', 990}, {'S', 997}, {'T', 1004}, {'W', 1029}, {'Y', 1036}, {0, 1043},
};

struct OutputSize {
  char letter;
  std::uint16_t size;
};
constexpr OutputSize kOutputSizes[] = {
    {'A', 2192}, {'B', 2504}, {'E', 160}, {'H', 4},    {'S', 4},   {'U', 4}, {'Y', 4}, {'u', 4},
    {'I', 44},   {'M', 2440}, {'P', 632}, {'R', 4096}, {'T', 120}, {'V', 1}, {'W', 8}, {0, 0},
};

// List outputs: entries follow an 8-byte header whose first word is their
// number, which the library reads as the room the buffer has.
struct ListOutput {
  char letter;
  std::uint16_t entry_size;
};
constexpr ListOutput kListOutputs[] = {{'M', 304}, {'B', 312}, {0, 0}};
constexpr std::size_t kListHeader = 8;

bool fits_bits(long long value, int bits) {
  const long long low = -(1LL << (bits - 1));
  const long long high = (1LL << bits) - 1;
  return value >= low && value <= high;
}

bool parse_number(const char* token, int base, int bits, HbaParam& param) {
  HbaNumber n = hbaapi_read_number(token, base);
  if (!n.fits || !fits_bits(n.value, bits)) return false;
  param.number = static_cast<std::uint64_t>(n.value) & ((std::uint64_t{1} << bits) - 1);
  return true;
}

void set_text(HbaParam& param, const std::string& text) {
  param.kind = HbaParamKind::kText;
  param.text = text;
  param.text.resize(text.size() + 1 > kHbaTextParam ? text.size() + 1 : kHbaTextParam, '\0');
}

}  // namespace

HbaNumber hbaapi_read_number(const char* text, int base) {
  HbaNumber n;
  char* end = nullptr;
  errno = 0;
  n.value = std::strtoll(text, &end, base);
  n.fits = errno != ERANGE;
  n.end = end;
  return n;
}

std::string hbaapi_unparsed_text(char letter) {
  const UnparsedLetter* row = kUnparsed;
  while (row->letter != 0 && row->letter != letter) ++row;
  return "NI_L" + std::to_string(row->number);
}

bool hbaapi_parse_param(char letter, const char* token, HbaParam& param, const Diag* diag) {
  param = HbaParam{};
  switch (letter) {
    case 'u':
      return parse_number(token, 10, 32, param);
    case 'H':
      if (!parse_number(token, 16, 32, param)) return false;
      if (diag != nullptr) diag->print("%s --> 0x%X\n", token, static_cast<unsigned>(param.number));
      return true;
    case 'U':
      return parse_number(token, 16, 32, param);
    case 'V':
      param.kind = HbaParamKind::kU8;
      return parse_number(token, 10, 8, param);
    case 'L':
      param.kind = HbaParamKind::kU64;
      return parse_number(token, 10, 32, param);  // the low half; the high half stays 0
    case 'C':
      set_text(param, token);
      return true;
    default:
      set_text(param, hbaapi_unparsed_text(letter));
      return true;
  }
}

std::size_t hbaapi_output_size(char letter) {
  const OutputSize* row = kOutputSizes;
  while (row->letter != 0 && row->letter != letter) ++row;
  return row->size;
}

std::unique_ptr<unsigned char[]> hbaapi_alloc_output(char letter) {
  const std::size_t size = hbaapi_output_size(letter);
  if (size == 0) return nullptr;
  auto buffer = std::make_unique<unsigned char[]>(size);  // zero-filled
  for (const ListOutput* list = kListOutputs; list->letter != 0; ++list) {
    if (list->letter != letter) continue;
    const auto room = static_cast<std::uint32_t>((size - kListHeader) / list->entry_size);
    std::memcpy(buffer.get(), &room, sizeof room);
  }
  return buffer;
}

}  // namespace tavro
