#include "agents/frame/adapter_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tavro {
namespace {

SubIds unit_ids(int n) {
  SubIds ids(16, 0);
  ids[15] = static_cast<std::uint32_t>(n);
  return ids;
}

// 16 hexadecimal digits as 8 sub-identifiers; empty when the text is not one.
SubIds wwn_ids(const char* digits) {
  SubIds ids;
  if (std::strlen(digits) != 16) return ids;
  for (int k = 0; k < 8; ++k) {
    char pair[3] = {digits[2 * k], digits[2 * k + 1], '\0'};
    char* end = nullptr;
    ids.push_back(static_cast<std::uint32_t>(std::strtoul(pair, &end, 16)));
    if (end != pair + 2) return {};
  }
  return ids;
}

SubIds name_ids(const char* name) {
  SubIds ids{static_cast<std::uint32_t>(std::strlen(name))};
  for (const char* p = name; *p != '\0'; ++p) ids.push_back(static_cast<unsigned char>(*p));
  return ids;
}

SubIds joined(SubIds ids, std::uint32_t last) {
  ids.push_back(last);
  return ids;
}

// The adapter instance of entry k for the first kind letter; empty when the
// entry lacks the field.
SubIds entry_ids(char kind, const AdapterTable& table, int k) {
  const AdapterEntry& e = table.names[k];
  switch (kind) {
    case 'U':
      return unit_ids(k + 1);
    case 'I':
      return {static_cast<std::uint32_t>(k)};
    case 'A':
      return e.adap[0] != '\0' ? name_ids(e.adap) : SubIds{};
    case 'N':
      return wwn_ids(e.node_wwn);
    default:
      return {};
  }
}

}  // namespace

std::vector<std::string> port_wwns(const AdapterEntry& e) {
  std::vector<std::string> ports;
  auto add = [&](const char* wwn) {
    if (!wwn_ids(wwn).empty() && std::find(ports.begin(), ports.end(), wwn) == ports.end()) {
      ports.emplace_back(wwn);
    }
  };
  add(e.port_wwn);
  for (int p = 0; p < std::clamp(e.port_count, 0, kMaxPorts); ++p) add(e.ports[p]);
  return ports;
}

std::string kinds_of(const char (&index_kinds)[8]) {
  std::string kinds;
  for (char c : index_kinds) {
    if (c == '\0' || c == ' ') break;
    kinds += c;
  }
  return kinds;
}

bool list_instances(const std::string& kinds, const AdapterTable& table, std::vector<SubIds>& out) {
  if (kinds.empty()) {
    out.emplace_back();
    return true;
  }
  static const char* const kListed[] = {"U", "UI", "I", "A", "AI", "P", "N", "NR"};
  if (std::find(std::begin(kListed), std::end(kListed), kinds) == std::end(kListed)) return false;
  int count = std::clamp(table.count, 0, kMaxAdapters);
  for (int k = 0; k < count; ++k) {
    if (kinds == "P") {
      for (const std::string& wwn : port_wwns(table.names[k])) out.push_back(wwn_ids(wwn.c_str()));
      continue;
    }
    SubIds ids = entry_ids(kinds[0], table, k);
    if (ids.empty()) continue;
    if (kinds == "NR") {
      const AdapterEntry& e = table.names[k];
      for (int r = 0; r < std::clamp(e.remote_count, 0, kMaxRemoteNodes); ++r) {
        SubIds remote = wwn_ids(e.remotes[r]);
        if (remote.empty()) continue;
        out.push_back(ids);
        out.back().insert(out.back().end(), remote.begin(), remote.end());
      }
      continue;
    }
    if (kinds == "UI") {
      std::size_t ports = std::max<std::size_t>(port_wwns(table.names[k]).size(), 1);
      for (std::size_t p = 1; p <= ports; ++p)
        out.push_back(joined(ids, static_cast<std::uint32_t>(p)));
      continue;
    }
    // A port of a named adapter is index 0.
    if (kinds.size() == 2) ids = joined(std::move(ids), 0);
    out.push_back(std::move(ids));
  }
  return true;
}

bool instance_shape_fits(const std::string& kinds, const std::uint32_t* ids, std::size_t n) {
  std::size_t at = 0;
  auto bytes = [&](std::size_t count) {
    if (at + count > n) return false;
    for (std::size_t k = 0; k < count; ++k) {
      if (ids[at++] > 0xFF) return false;
    }
    return true;
  };
  for (char kind : kinds) {
    bool fits = true;
    switch (kind) {
      case 'A':
        fits = at < n && ids[at] <= 0xFF && bytes(1 + ids[at]);
        break;
      case 'N':
      case 'P':
      case 'R':
        fits = bytes(8);
        break;
      case 'U':
        fits = bytes(16);
        break;
      default:
        fits = at < n;
        ++at;
        break;
    }
    if (!fits) return false;
  }
  return at == n;
}

}  // namespace tavro
