// Any reply text through every parser tavroctl applies to what the daemon
// sends: the reply kinds, numbers, WWNs, "|" fields of each HBA API layout,
// ";" pairs, and a metric sample with the text as a label value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tavroctl/output.h"
#include "tavroctl/reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavroctl;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Reply reply = classify(text);
  parse_unsigned(reply.text);
  parse_signed(reply.text);
  parse_hex32(reply.text);
  normalize_wwn(reply.text);
  for (const auto& layout : {std::pair{13, 1}, {15, 9}, {15, 0}}) {
    const std::size_t expected = static_cast<std::size_t>(layout.first);
    const auto fields = hba_fields(reply.text, expected, static_cast<std::size_t>(layout.second),
                                   layout.second == 9 ? 10 : expected);
    if (!fields.empty() && fields.size() != expected) __builtin_trap();
  }
  for (const auto& [key, value] : key_values(reply.text)) parse_unsigned(value);
  Metrics m;
  m.add("tavro_fuzz", "help", {{"label", reply.text}}, "1");
  const std::string lines = m.text();  // a line end in a label is escaped
  if (std::count(lines.begin(), lines.end(), '\n') != 3) __builtin_trap();
  return 0;
}
