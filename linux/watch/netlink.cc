#include "linux/watch/netlink.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace qlinux::watch {
namespace {

using namespace fc_nl;

// Fields in the kernel's (the host's) byte order.
template <typename T>
T get(std::span<const std::uint8_t> bytes, std::size_t at) {
  T v;
  std::memcpy(&v, bytes.data() + at, sizeof v);
  return v;
}

std::uint32_t get_be32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

std::optional<FcEvent> parse_event(std::span<const std::uint8_t> m) {
  if (m.size() < kMinEvent) return std::nullopt;
  const auto length = get<std::uint16_t>(m, kMsgLen);
  const auto data_length = get<std::uint16_t>(m, kDataLen);
  if (m[kVersion] != 1 || m[kTransport] != 1 || get<std::uint16_t>(m, kMagic) != 0xA1B2 ||
      get<std::uint16_t>(m, kMsgType) != 0x0100 || length < kMinEvent || length > m.size() ||
      kEventData + std::size_t{data_length} > length)
    return std::nullopt;
  FcEvent e;
  e.host = get<std::uint16_t>(m, kHostNo);
  e.number = get<std::uint32_t>(m, kEventNum);
  e.code = get<std::uint32_t>(m, kEventCode);
  e.data = get<std::uint32_t>(m, kEventData);
  e.payload.assign(m.begin() + kEventData, m.begin() + kEventData + data_length);
  return e;
}

// The kind named by an FPIN's first descriptor (the ELS: command, 3 zero
// bytes, the descriptors' length, then tag and length of each, big-endian).
const char* fpin_kind(const std::vector<std::uint8_t>& els) {
  if (els.size() < 12 || els[0] != 0x16) return nullptr;
  switch (get_be32(els, 8)) {
    case 0x00020001:
      return "link integrity";
    case 0x00020002:
      return "delivery";
    case 0x00020003:
      return "peer congestion";
    case 0x00020004:
      return "congestion";
    default:
      return nullptr;
  }
}

struct CodeRow {
  std::uint32_t code;
  std::uint32_t severity;
  const char* text;
};
constexpr CodeRow kCodes[] = {
    {kLip, kNotice, "loop initialisation (LIP)"},
    {kLinkUp, kNotice, "link up"},
    {kLinkDown, kWarning, "link down"},
    {kLipReset, kNotice, "LIP reset"},
    {kRscn, kWarning, "RSCN"},
    {kAdapterChange, kNotice, "adapter changed"},
    {kPortUnknown, kNotice, "port state unknown"},
    {kPortOffline, kWarning, "port offline"},
    {kPortOnline, kNotice, "port online"},
    {kPortFabric, kNotice, "fabric changed"},
    {kLinkUnknown, kWarning, "link state unknown"},
    {kFpin, kWarning, "fabric performance impact notification (FPIN)"},
    {kFpinAck, kNotice, "FPIN acknowledged"},
    {kVendorUnique, kNotice, "vendor event"},
};

}  // namespace

std::vector<FcEvent> parse_fc_events(std::span<const std::uint8_t> datagram) {
  std::vector<FcEvent> out;
  std::size_t at = 0;
  while (datagram.size() - at >= kNlHeader) {
    auto rest = datagram.subspan(at);
    const auto length = get<std::uint32_t>(rest, 0);
    if (length < kNlHeader || length > rest.size()) break;
    if (get<std::uint16_t>(rest, 4) == kMessageType) {
      if (auto e = parse_event(rest.subspan(kNlHeader, length - kNlHeader))) out.push_back(*e);
    }
    at += (std::size_t{length} + 3) & ~std::size_t{3};
    if (at > datagram.size()) break;
  }
  return out;
}

Change describe(const FcEvent& event, const View& view) {
  const View::Host* host = find_host(view, event.host);
  std::string text = host ? port_label(*host) : "host" + std::to_string(event.host);
  text += ": ";
  std::uint32_t severity = kNotice;
  const CodeRow* row = nullptr;
  for (const CodeRow& r : kCodes) {
    if (r.code == event.code) row = &r;
  }
  if (!row) {
    char unknown[48];
    std::snprintf(unknown, sizeof unknown, "unknown FC event 0x%X", event.code);
    return make_change(kNotice, text + unknown);
  }
  severity = row->severity;
  text += row->text;
  if (event.code == kRscn) {
    char page[32];
    std::snprintf(page, sizeof page, " (affected %06X)", event.data & 0xFFFFFF);
    text += page;
  } else if (event.code == kFpin) {
    if (const char* kind = fpin_kind(event.payload)) text += std::string(": ") + kind;
  }
  return make_change(severity, text);
}

}  // namespace qlinux::watch
