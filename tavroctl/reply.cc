#include "tavroctl/reply.h"

#include <cctype>
#include <charconv>

namespace tavroctl {

Reply classify(std::string raw) {
  if (raw.empty()) return {Outcome::kNoReply, ""};
  raw.resize(raw.find('\0') == std::string::npos ? raw.size() : raw.find('\0'));
  if (raw.rfind("Error:", 0) != 0) return {Outcome::kOk, raw};
  const bool disabled = raw == "Error: Requests disabled." ||
                        (raw.size() > 9 && raw.compare(raw.size() - 9, 9, " disabled") == 0);
  return {disabled ? Outcome::kDisabled : Outcome::kErrorReply, raw};
}

int exit_status(Outcome outcome) {
  return outcome == Outcome::kBadReply ? 1 : static_cast<int>(outcome);
}

std::string printable(std::string_view text, bool one_line) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
    if ((c >= 0x20 && c != 0x7F && !c1) || (!one_line && (c == '\t' || c == '\n'))) {
      out += static_cast<char>(c);
      continue;
    }
    for (std::size_t k = 0; k < (c1 ? 2u : 1u); ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      out += {'\\', 'x', kDigits[b >> 4], kDigits[b & 15]};
    }
    i += c1 ? 1 : 0;
  }
  return out;
}

namespace {

template <typename T>
std::optional<T> parse_whole(std::string_view text, int base) {
  T value{};
  if (text.empty() || text.front() == '+') return std::nullopt;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::uint64_t> parse_unsigned(std::string_view text) {
  return parse_whole<std::uint64_t>(text, 10);
}

std::optional<std::int64_t> parse_signed(std::string_view text) {
  return parse_whole<std::int64_t>(text, 10);
}

std::optional<std::uint32_t> parse_hex32(std::string_view text) {
  if (text.size() > 8 || text.rfind("-", 0) == 0) return std::nullopt;
  return parse_whole<std::uint32_t>(text, 16);
}

std::optional<std::string> normalize_wwn(std::string_view text) {
  std::string digits;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':' && i % 3 == 2 && text.size() == 23) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (digits.size() != 16) return std::nullopt;
  return digits;
}

bool fits(const Shape& shape, std::string_view text) {
  switch (shape.kind) {
    case Shape::kText:
      return true;
    case Shape::kWwn:
      return text.size() == 16 && normalize_wwn(text);
    case Shape::kHex:
      return text.size() <= shape.max && parse_hex32(text);
    case Shape::kNumber:
      break;
  }
  auto n = parse_unsigned(text);
  if (!n || *n > shape.max) return false;
  if (shape.codes.empty()) return true;
  for (const std::string& code : split(shape.codes, ' '))
    if (code == text) return true;
  return false;
}

std::string describe(const Shape& shape) {
  switch (shape.kind) {
    case Shape::kText:
      return "text";
    case Shape::kWwn:
      return "a WWN of 16 hexadecimal digits";
    case Shape::kHex:
      return "a hexadecimal number of at most " + std::to_string(shape.max) + " digits";
    case Shape::kNumber:
      break;
  }
  if (!shape.codes.empty()) return "one of the codes " + std::string(shape.codes);
  return "a whole number of 0 to " + std::to_string(shape.max);
}

Reply bad_reply(const std::string& request, const std::string& expected, std::string_view got) {
  return {Outcome::kBadReply, "expected " + expected + ", got \"" + printable(got, true) + "\"",
          request};
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> out;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    out.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return out;
    start = end + 1;
  }
}

std::vector<std::string> hba_fields(std::string_view text, std::size_t expected,
                                    std::size_t first_text, std::size_t last_text) {
  std::vector<std::string> fields = split(text, '|');
  if (fields.size() == expected) return fields;
  if (fields.size() < expected || first_text == 0) return {};
  std::vector<std::string> out(expected);
  for (std::size_t i = 0; i + 1 < first_text; ++i) out[i] = fields[i];
  for (std::size_t i = last_text; i < expected; ++i)
    out[i] = fields[fields.size() - (expected - i)];
  return out;
}

std::vector<std::pair<std::string, std::string>> key_values(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  if (text.empty()) return out;
  const std::vector<std::string> parts = split(text, ';');
  for (std::size_t i = 0; i < parts.size(); i += 2)
    out.emplace_back(parts[i], i + 1 < parts.size() ? parts[i + 1] : "");
  return out;
}

}  // namespace tavroctl
