// What the daemon's replies mean to a client: the kind of each reply, and the
// small parsers of their text (numbers, "|" fields, ";" pairs, WWNs).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavroctl {

// What came of a request; exit_status gives tavroctl's exit status for it.
enum class Outcome : int {
  kOk = 0,
  kErrorReply = 1,     // the daemon answered "Error: ..."
  kUsage = 2,          // bad arguments
  kCannotConnect = 3,  // nothing listens, or the host is unreachable
  kDisabled = 4,       // the daemon answered that the command is disabled
  kNoReply = 5,        // closed or reset without a reply, or no reply in time
  kBadReply = 6,       // a reply not of the shape asked for (exit status 1)
};
int exit_status(Outcome outcome);

struct Reply {
  Outcome outcome = Outcome::kOk;
  std::string text;  // the reply (one zero byte, the empty reply, becomes ""), or what went wrong
  std::string request;
  bool ok() const { return outcome == Outcome::kOk; }
};

// The kind of a raw reply as it came off the connection.
Reply classify(std::string raw);

// Text from the peer as a terminal may show it: control characters other than
// tab and line feed (and C1 controls in UTF-8) as \xHH; in one line, tab and
// line feed too.
std::string printable(std::string_view text, bool one_line = false);

// What a reply must look like to be used: any text, a whole decimal number up
// to max (one of codes when given, e.g. "1 3"), a WWN, or up to max
// hexadecimal digits.
struct Shape {
  enum Kind { kText, kNumber, kWwn, kHex } kind = kText;
  std::uint64_t max = 0;
  std::string_view codes = "";
};
inline Shape count_up_to(std::uint64_t max) {
  return {Shape::kNumber, max};
}
inline constexpr Shape kWwnShape{Shape::kWwn};
bool fits(const Shape& shape, std::string_view text);
// For the failure line, e.g. "a whole number of 0 to 8".
std::string describe(const Shape& shape);
// The failure of a reply that is not what was expected: what it should have
// been and what came (escaped).
Reply bad_reply(const std::string& request, const std::string& expected, std::string_view got);

// A whole unsigned decimal number that fits 64 bits; nothing else.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);
// A whole signed decimal number that fits 64 bits.
std::optional<std::int64_t> parse_signed(std::string_view text);
// A hexadecimal number of 1 to 8 digits.
std::optional<std::uint32_t> parse_hex32(std::string_view text);

// A WWN as 16 hexadecimal digits, upper case; ":" between bytes is allowed.
std::optional<std::string> normalize_wwn(std::string_view text);

// Splits at every separator.
std::vector<std::string> split(std::string_view text, char separator);

// The fields of a rendered HBA API structure. A text field may hold "|", so a
// reply with more fields than expected is taken apart from both ends: the
// fixed fields before first_text and after last_text (1-based) are exact, the
// text fields between them are left empty. Fewer fields than expected: none.
std::vector<std::string> hba_fields(std::string_view text, std::size_t expected,
                                    std::size_t first_text, std::size_t last_text);

// "key;value;key;value" (STATS, CONFIG) into pairs, in order.
std::vector<std::pair<std::string, std::string>> key_values(std::string_view text);

}  // namespace tavroctl
