#include "sysfs/parse.h"

#include <charconv>

namespace sysfs {
namespace {

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

struct NameRow {
  const char* name;
  std::uint32_t value;
};

// The transport's names, as scsi_transport_fc writes them.
constexpr NameRow kPortStates[] = {
    {"Unknown", 0},  {"Not Present", 1}, {"Online", 2},   {"Offline", 3}, {"Blocked", 4},
    {"Bypassed", 5}, {"Diagnostics", 6}, {"Linkdown", 7}, {"Error", 8},   {"Loopback", 9},
    {"Deleted", 10}, {"Marginal", 11},   {nullptr, 0}};
constexpr NameRow kPortTypes[] = {{"Unknown", 0},
                                  {"Other", 1},
                                  {"Not Present", 2},
                                  {"NPort (fabric via point-to-point)", 3},
                                  {"NLPort (fabric via loop)", 4},
                                  {"LPort (private loop)", 5},
                                  {"Point-To-Point (direct nport connection)", 6},
                                  {"NPIV VPORT", 7},
                                  {nullptr, 0}};
constexpr NameRow kRoles[] = {{"FCP Target", kRoleFcpTarget},
                              {"FCP Initiator", kRoleFcpInitiator},
                              {"IP Port", kRoleIpPort},
                              {"FCP Dummy Initiator", 8},
                              {"NVMe Initiator", 0x10},
                              {"NVMe Target", 0x20},
                              {"NVMe Discovery", 0x40},
                              {"unknown", 0},
                              {"Fabric Port", kRoleFabric},
                              {"Fabric Controller", kRoleFabric},
                              {"Directory Server", kRoleFabric},
                              {"Time Server", kRoleFabric},
                              {"Management Server", kRoleFabric},
                              {"Unknown Fabric Entity", kRoleFabric},
                              {nullptr, 0}};
constexpr NameRow kClasses[] = {{"Class 1", 1u << 1}, {"Class 2", 1u << 2}, {"Class 3", 1u << 3},
                                {"Class 4", 1u << 4}, {"Class 6", 1u << 6}, {"unspecified", 0},
                                {nullptr, 0}};

std::optional<std::uint32_t> find(const NameRow* rows, std::string_view text) {
  for (; rows->name; ++rows)
    if (text == rows->name) return rows->value;
  return std::nullopt;
}

// A list "A, B, C" whose every item is a row's name: the rows' values or'ed.
std::optional<std::uint32_t> bits(const NameRow* rows, std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint32_t out = 0;
  while (!text.empty()) {
    std::size_t end = text.find(", ");
    auto v = find(rows, text.substr(0, end));
    if (!v) return std::nullopt;
    out |= *v;
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 2);
  }
  return out;
}

std::optional<std::uint64_t> hex(std::string_view text) {
  if (text.size() < 3 || text.substr(0, 2) != "0x") return std::nullopt;
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), v, 16);
  if (ec != std::errc{} || p != text.data() + text.size()) return std::nullopt;
  return v;
}

}  // namespace

std::optional<Wwn> parse_wwn(std::string_view text) {
  return parse_counter(text);
}

std::optional<std::uint64_t> parse_counter(std::string_view text) {
  auto v = hex(text);
  if (v == kAllOnes) return std::nullopt;
  return v;
}

std::optional<std::uint32_t> parse_port_id(std::string_view text) {
  auto v = hex(text);
  if (!v || *v > 0xFFFFFF) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

std::optional<std::uint32_t> parse_decimal(std::string_view text) {
  if (text.ends_with(" bytes")) text.remove_suffix(6);
  std::uint32_t v = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc{} || p != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<std::uint32_t> parse_speed(std::string_view text) {
  if (text == "Not Negotiated") return 0;
  text = text.substr(0, text.find(", "));
  if (!text.ends_with(" Gbit")) return std::nullopt;
  auto v = parse_decimal(text.substr(0, text.size() - 5));
  if (v == 0u) return std::nullopt;
  return v;
}

std::optional<std::uint32_t> parse_classes(std::string_view text) {
  return bits(kClasses, text);
}

std::optional<std::uint32_t> parse_roles(std::string_view text) {
  return bits(kRoles, text);
}

std::optional<PortState> parse_port_state(std::string_view text) {
  auto v = find(kPortStates, text);
  if (!v) return std::nullopt;
  return static_cast<PortState>(*v);
}

std::optional<PortType> parse_port_type(std::string_view text) {
  auto v = find(kPortTypes, text);
  if (!v) return std::nullopt;
  return static_cast<PortType>(*v);
}

}  // namespace sysfs
