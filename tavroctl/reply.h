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

// Exit statuses of tavroctl, one per outcome.
enum class Outcome : int {
  kOk = 0,
  kErrorReply = 1,     // the daemon answered "Error: ..."
  kUsage = 2,          // bad arguments
  kCannotConnect = 3,  // nothing listens, or the host is unreachable
  kDisabled = 4,       // the command is disabled in the daemon's configuration
  kNoReply = 5,        // unknown or disabled command (the daemon stays silent), or a time-out
};

struct Reply {
  Outcome outcome = Outcome::kOk;
  std::string text;  // the reply (one zero byte, the empty reply, becomes "")
  bool ok() const { return outcome == Outcome::kOk; }
};

// The kind of a raw reply as it came off the connection.
Reply classify(std::string raw);

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
