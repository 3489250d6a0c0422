#include "tavroctl/inventory.h"

#include <algorithm>

namespace tavroctl {

const CounterRow kCounters[] = {
    {"sent_sequences", "3.7.1.15", "", 0, "tavro_port_sent_sequences_total", "Sequences sent."},
    {"received_sequences", "3.7.1.16", "", 0, "tavro_port_received_sequences_total",
     "Sequences received."},
    {"sent_bytes", "3.7.1.17", "", 0, "tavro_port_sent_bytes_total", "Bytes sent."},
    {"received_bytes", "3.7.1.18", "", 0, "tavro_port_received_bytes_total", "Bytes received."},
    {"send_errors", "3.7.1.19", "", 0, "tavro_port_send_errors_total", "Send errors."},
    {"receive_errors", "3.7.1.20", "", 0, "tavro_port_receive_errors_total", "Receive errors."},
    {"link_transitions", "3.6.1.5", ".0", 0, "tavro_port_link_transitions_total",
     "Link state changes."},
    {"seconds_since_reset", nullptr, "", 1, "tavro_port_statistics_age_seconds",
     "Seconds since the HBA API statistics were reset."},
    {"tx_frames", nullptr, "", 2, "tavro_port_transmitted_frames_total", "Frames transmitted."},
    {"tx_words", nullptr, "", 3, "tavro_port_transmitted_words_total", "Words transmitted."},
    {"rx_frames", nullptr, "", 4, "tavro_port_received_frames_total", "Frames received."},
    {"rx_words", nullptr, "", 5, "tavro_port_received_words_total", "Words received."},
    {"lip", nullptr, "", 6, "tavro_port_lip_total", "Loop initialisations."},
    {"nos", nullptr, "", 7, "tavro_port_nos_total", "Not-operational sequences."},
    {"error_frames", nullptr, "", 8, "tavro_port_error_frames_total", "Frames received in error."},
    {"dumped_frames", nullptr, "", 9, "tavro_port_dumped_frames_total", "Frames dumped."},
    {"link_failures", nullptr, "", 10, "tavro_port_link_failures_total", "Link failures."},
    {"loss_of_sync", nullptr, "", 11, "tavro_port_loss_of_sync_total",
     "Losses of synchronisation."},
    {"loss_of_signal", nullptr, "", 12, "tavro_port_loss_of_signal_total", "Losses of signal."},
    {"protocol_errors", nullptr, "", 13, "tavro_port_primitive_sequence_protocol_errors_total",
     "Primitive sequence protocol errors."},
    {"invalid_tx_words", nullptr, "", 14, "tavro_port_invalid_transmission_words_total",
     "Invalid transmission words."},
    {"invalid_crc", nullptr, "", 15, "tavro_port_invalid_crc_total", "Frames with a bad CRC."},
    {nullptr, nullptr, nullptr, 0, nullptr, nullptr},
};

namespace {

// No more of anything than the daemon and the driver can hold; a reply of
// more is wrong, never cut to size.
constexpr unsigned kMaxAdapters = 8, kMaxPorts = 8, kMaxRemoteNodes = 512, kMaxRemotePorts = 16,
                   kMaxLuns = 64, kMaxDiscovered = 1024, kMaxGbit = 1024;
constexpr Shape kAnyNumber{Shape::kNumber, ~0ull};
constexpr Shape kPortState{Shape::kNumber, 3, "1 3"};  // online, offline
constexpr Shape kLinkState{Shape::kNumber, 2, "1 2"};  // up, down
constexpr Shape kBlocked{Shape::kNumber, 2, "0 1 2"};  // 1 blocked
constexpr Shape kFcAddress{Shape::kHex, 6};
constexpr Shape kRoleBits{Shape::kHex, 8};

// A count or number already checked for its shape; 0 when unknown.
unsigned number(const std::optional<std::string>& text) {
  return text ? static_cast<unsigned>(parse_unsigned(*text).value_or(0)) : 0;
}

std::string wwn_or_empty(const std::optional<std::string>& text) {
  return text ? normalize_wwn(*text).value_or("") : "";
}

// A token of an HBAAPI request: quoted when it holds a separator.
std::string token(const std::string& text) {
  return text.find_first_of(".|") == std::string::npos ? text : "\"" + text + "\"";
}

Port* find_port(std::vector<Adapter>& adapters, const std::string& wwn) {
  for (Adapter& a : adapters)
    for (Port& p : a.ports)
      if (!wwn.empty() && p.wwn == wwn) return &p;
  return nullptr;
}

void read_port(Session& s, Port& p, const Want& want) {
  std::vector<std::pair<std::string, Shape>> objects{{"3.5.1.5." + p.wwn, kPortState}};
  if (want.details) {
    objects.emplace_back("3.5.1.3." + p.wwn, count_up_to(kMaxGbit));
    objects.emplace_back("3.6.1.3." + p.wwn + ".0", kLinkState);
    objects.emplace_back("3.7.1.7." + p.wwn, kFcAddress);
  }
  for (const CounterRow* c = kCounters; want.stats && c->key != nullptr; ++c)
    if (c->suffix != nullptr)
      objects.emplace_back(std::string(c->suffix) + "." + p.wwn + c->after, kAnyNumber);
  auto values = s.agents(objects);
  auto next = values.begin();
  p.state = *next++;
  if (want.details) {
    p.speed = *next++;
    p.link = *next++;
    p.fc_address = *next++;
  }
  p.counters.assign(next, values.end());
}

void read_remote_node(Session& s, const std::string& node, RemoteNode& r, const Want& want) {
  const std::string nr = node + "." + r.wwn;
  r.type = s.agent("4.8.1.2." + nr, kRoleBits).value_or("");
  r.target_id = s.agent("4.9.1.2." + nr, count_up_to(0xFFFFFFFF)).value_or("");
  r.blocked = s.agent("4.9.1.3." + nr, kBlocked).value_or("");
  if (auto luns = s.agent("4.9.1.4." + nr, count_up_to(kMaxLuns))) {
    r.lun_count = number(luns);
    for (unsigned l = 0; want.lun_numbers && l < *r.lun_count; ++l)
      r.luns.push_back(
          s.agent("4.13.1.2." + nr + "." + std::to_string(l), kAnyNumber).value_or("?"));
  }
  const unsigned n = number(s.agent("4.8.1.1." + nr, count_up_to(kMaxRemotePorts)));
  for (unsigned k = 0; k < n; ++k) {
    RemotePort port;
    port.wwn = wwn_or_empty(s.agent("4.11.1.2." + nr + "." + std::to_string(k), kWwnShape));
    if (port.wwn.empty()) continue;
    port.fc_address = s.agent("4.12.1.1." + nr + "." + port.wwn, kFcAddress).value_or("");
    r.ports.push_back(port);
  }
}

void read_remotes(Session& s, Adapter& a, const Want& want) {
  if (a.node_wwn.empty()) return;
  const unsigned n = number(s.agent("4.3.1.3." + a.node_wwn, count_up_to(kMaxRemoteNodes)));
  for (unsigned i = 0; i < n && !s.failed(); ++i) {
    RemoteNode r;
    r.wwn = wwn_or_empty(s.agent("4.7.1.2." + a.node_wwn + "." + std::to_string(i), kWwnShape));
    if (r.wwn.empty()) continue;
    read_remote_node(s, a.node_wwn, r, want);
    a.remotes.push_back(std::move(r));
  }
}

Adapter read_adapter(Session& s, unsigned index, const Want& want) {
  Adapter a;
  a.index = static_cast<int>(index);
  const std::string i = std::to_string(index);
  const auto names = s.agents({{"3.2.1.2." + i, {}}, {"4.2.1.2." + i, kWwnShape}});
  a.name = names[0].value_or("");
  if (a.name.empty()) return a;
  a.node_wwn = wwn_or_empty(names[1]);
  std::vector<std::pair<std::string, Shape>> objects{{"3.3.1.1." + a.name, count_up_to(kMaxPorts)}};
  if (want.details) objects.emplace_back("3.3.1.4." + a.name, Shape{});
  if (want.details && want.bus_slot) objects.emplace_back("3.3.1.3." + a.name, Shape{});
  const auto about = s.agents(objects);
  if (want.details) a.model = about[1];
  if (want.details && want.bus_slot) a.bus_slot = about[2];
  // The adapter's port WWN object names its first port whatever the index;
  // the node's port objects name each port.
  std::vector<std::pair<std::string, Shape>> wwns;
  for (unsigned j = 0; j < number(about[0]); ++j)
    wwns.emplace_back("4.6.1.2." + a.node_wwn + "." + std::to_string(j), kWwnShape);
  const auto port_wwns = s.agents(wwns);
  for (unsigned j = 0; j < port_wwns.size() && !s.failed(); ++j) {
    Port p;
    p.adapter = a.index;
    p.index = static_cast<int>(j);
    p.wwn = wwn_or_empty(port_wwns[j]);
    if (p.wwn.empty()) continue;
    read_port(s, p, want);
    a.ports.push_back(std::move(p));
  }
  if (want.remotes) read_remotes(s, a, want);
  return a;
}

// The fields of an HBA API reply, checked; none when it failed or is unknown.
std::vector<std::string> hba_reply(Session& s, const std::string& request, std::size_t expected,
                                   std::size_t first_text, std::size_t last_text) {
  auto text = s.hbaapi(request);
  if (!text) return {};
  auto fields = hba_fields(*text, expected, first_text, last_text);
  s.check("HBAAPI " + request, *text, !fields.empty(),
          std::to_string(expected) + " fields between |");
  return s.failed() ? std::vector<std::string>{} : fields;
}

// The fields of port attributes that tavroctl uses, checked.
bool port_attributes_fit(Session& s, const std::string& request,
                         const std::vector<std::string>& f) {
  const std::string r = "HBAAPI " + request;
  return s.check(r, f[hba::kPortWwn], fits(kWwnShape, f[hba::kPortWwn]), describe(kWwnShape)) &&
         s.check(r, f[hba::kState], !port_state_name(f[hba::kState]).empty(),
                 "a known port state code") &&
         s.check(r, f[hba::kType], !port_type_name(f[hba::kType]).empty(),
                 "a known port type code") &&
         s.check(r, f[hba::kFabric], fits(kWwnShape, f[hba::kFabric]), describe(kWwnShape)) &&
         s.check(r, f[hba::kDiscovered], fits(count_up_to(kMaxDiscovered), f[hba::kDiscovered]),
                 describe(count_up_to(kMaxDiscovered)));
}

void read_hba_port(Session& s, const std::string& handle, unsigned index,
                   std::vector<Adapter>& adapters, const Want& want) {
  const std::string hp = handle + "." + std::to_string(index);
  auto attributes = hba_reply(s, "8.0." + hp, hba::kPortFields, 9, 10);
  if (attributes.empty() || !port_attributes_fit(s, "8.0." + hp, attributes)) return;
  Port* p = find_port(adapters, normalize_wwn(attributes[hba::kPortWwn]).value_or(""));
  if (p == nullptr) return;
  p->hba = attributes;
  if (want.stats) {
    p->hba_stats = hba_reply(s, "9.0." + hp, hba::kStatsFields, 0, 0);
    for (const std::string& f : p->hba_stats)
      if (!s.check("HBAAPI 9.0." + hp, f, parse_signed(f).has_value(), "whole numbers")) return;
  }
  if (!want.remotes) return;
  const unsigned n = number(attributes[hba::kDiscovered]);
  for (unsigned d = 0; d < n && !s.failed(); ++d) {
    const std::string request = "10.0." + hp + "." + std::to_string(d);
    auto remote = hba_reply(s, request, hba::kPortFields, 9, 10);
    if (!remote.empty() && port_attributes_fit(s, request, remote))
      p->discovered.push_back(std::move(remote));
  }
}

void read_hba_adapter(Session& s, unsigned index, std::vector<Adapter>& adapters,
                      const Want& want) {
  auto name = s.hbaapi("4.0." + std::to_string(index));
  auto handle = name ? s.hbaapi("5.0." + token(*name), {Shape::kHex, 8}) : std::nullopt;
  if (!handle || !parse_hex32(*handle).value_or(0)) return;
  auto attributes = hba_reply(s, "7.0." + *handle, hba::kAdapterFields, 1, 13);
  const std::string request = "HBAAPI 7.0." + *handle;
  if (!attributes.empty() &&
      s.check(request, attributes[hba::kNodeWwn], fits(kWwnShape, attributes[hba::kNodeWwn]),
              describe(kWwnShape)) &&
      s.check(request, attributes[hba::kPorts],
              fits(count_up_to(kMaxPorts), attributes[hba::kPorts]),
              describe(count_up_to(kMaxPorts)))) {
    const std::string node = normalize_wwn(attributes[hba::kNodeWwn]).value_or("");
    for (Adapter& a : adapters)
      if (a.node_wwn == node) a.hba = attributes;
  }
  const unsigned ports = attributes.empty() ? kMaxPorts : number(attributes[hba::kPorts]);
  for (unsigned j = 0; j < ports && !s.failed(); ++j) read_hba_port(s, *handle, j, adapters, want);
  s.hbaapi("6.0." + *handle);
}

void attach_remote_states(Adapter& a) {
  for (RemoteNode& r : a.remotes)
    for (RemotePort& rp : r.ports)
      for (const Port& p : a.ports)
        for (const auto& d : p.discovered)
          if (rp.via.empty() && normalize_wwn(d[hba::kPortWwn]).value_or("") == rp.wwn) {
            rp.state = d[hba::kState];
            rp.via = p.wwn;
          }
}

bool discovers(const Adapter& a, const std::string& wwn) {
  for (const Port& p : a.ports)
    for (const auto& d : p.discovered)
      if (normalize_wwn(d[hba::kPortWwn]).value_or("") == wwn) return true;
  return false;
}

// A remote node's port requests name no adapter, so the driver lists every
// path of the node under each adapter that sees it; a remote port that the
// HBA API shows on another adapter's ports only is that adapter's path.
void drop_other_paths(std::vector<Adapter>& adapters) {
  for (Adapter& a : adapters)
    for (RemoteNode& r : a.remotes)
      std::erase_if(r.ports, [&](const RemotePort& rp) {
        return rp.via.empty() && std::any_of(adapters.begin(), adapters.end(), [&](auto& b) {
                 return &b != &a && discovers(b, rp.wwn);
               });
      });
}

}  // namespace

bool Session::check(const std::string& request, std::string_view value, bool fit,
                    const std::string& expected) {
  if (fit || failed()) return fit && !failed();
  failure_ = bad_reply(request, expected, value);
  return false;
}

std::optional<std::string> Session::keep(Reply reply, const Shape& shape, bool error_fails) {
  if (failed()) return std::nullopt;
  // The request was built from an earlier reply, e.g. an adapter's name.
  if (reply.outcome == Outcome::kUsage)
    reply = bad_reply(reply.request, "names that fit into one request line", reply.request);
  if (reply.ok())
    return check(reply.request, reply.text, fits(shape, reply.text), describe(shape))
               ? std::optional(reply.text)
               : std::nullopt;
  if (reply.outcome != Outcome::kErrorReply || error_fails) failure_ = reply;
  return std::nullopt;
}

std::optional<std::string> Session::agent(std::string_view suffix, const Shape& shape) {
  if (failed()) return std::nullopt;
  return keep(client_.agent(suffix), shape, false);
}

std::vector<std::optional<std::string>> Session::agents(
    const std::vector<std::pair<std::string, Shape>>& objects) {
  std::vector<std::string> requests;
  for (const auto& [suffix, shape] : objects)
    requests.push_back("FCGET " + std::string(kAgentTree) + suffix);
  std::vector<Reply> replies;
  if (!failed()) replies = client_.ask_all(requests);
  std::vector<std::optional<std::string>> values;
  for (std::size_t i = 0; i < objects.size(); ++i)
    values.push_back(i < replies.size() ? keep(std::move(replies[i]), objects[i].second, false)
                                        : std::nullopt);
  return values;
}

std::optional<std::string> Session::required(std::string_view suffix, const Shape& shape) {
  if (failed()) return std::nullopt;
  return keep(client_.agent(suffix), shape, true);
}

// The HBA API is optional: a daemon without it (disabled, no library) still
// shows everything the driver answers.
std::optional<std::string> Session::hbaapi(std::string_view text, const Shape& shape) {
  if (failed()) return std::nullopt;
  Reply reply = client_.hbaapi(text);
  if (reply.outcome == Outcome::kDisabled) reply.outcome = Outcome::kErrorReply;
  return keep(reply, shape, false);
}

std::vector<Adapter> gather(Session& s, Want want) {
  std::vector<Adapter> adapters;
  const unsigned n = number(s.required("3.1.0", count_up_to(kMaxAdapters)));
  for (unsigned i = 0; i < n && !s.failed(); ++i) adapters.push_back(read_adapter(s, i, want));
  if (!want.hba || s.failed()) return adapters;
  const unsigned hba_count = number(s.hbaapi("3.0", count_up_to(kMaxAdapters)));
  for (unsigned i = 0; i < hba_count && !s.failed(); ++i) read_hba_adapter(s, i, adapters, want);
  for (Adapter& a : adapters) attach_remote_states(a);
  drop_other_paths(adapters);
  return adapters;
}

std::optional<std::string> resolve_port(Session& s, std::string_view port_text) {
  const auto colon = port_text.rfind(':');
  if (colon == std::string_view::npos || port_text.find(':') != colon)
    return normalize_wwn(port_text);
  const std::string adapter(port_text.substr(0, colon));
  const auto port = parse_unsigned(port_text.substr(colon + 1));
  const unsigned count = number(s.required("3.1.0", count_up_to(kMaxAdapters)));
  for (unsigned i = 0; port && i < count; ++i) {
    const std::string index = std::to_string(i);
    auto name = s.agent("3.2.1.2." + index);
    if (!name || (adapter != index && adapter != *name)) continue;
    if (*port >= number(s.agent("3.3.1.1." + *name, count_up_to(kMaxPorts)))) return std::nullopt;
    const std::string node = wwn_or_empty(s.agent("4.2.1.2." + index, kWwnShape));
    const std::string wwn =
        wwn_or_empty(s.agent("4.6.1.2." + node + "." + std::to_string(*port), kWwnShape));
    return wwn.empty() ? std::nullopt : std::optional(wwn);
  }
  return std::nullopt;
}

namespace {

struct CodeName {
  unsigned code;
  const char* name;
};

std::string name_of(const CodeName* table, std::string_view code) {
  auto value = parse_hex32(code);
  for (const CodeName* row = table; value && row->name != nullptr; ++row)
    if (row->code == *value) return row->name;
  return "";
}

constexpr CodeName kPortTypes[] = {
    {1, "unknown"}, {2, "other"},   {3, "not present"},     {5, "N_Port"},
    {6, "NL_Port"}, {7, "FL_Port"}, {8, "F_Port"},          {9, "E_Port"},
    {10, "G_Port"}, {20, "L_Port"}, {21, "point-to-point"}, {0, nullptr},
};

constexpr CodeName kPortStates[] = {
    {1, "unknown"},   {2, "online"}, {3, "offline"},  {4, "bypassed"}, {5, "diagnostics"},
    {6, "link down"}, {7, "error"},  {8, "loopback"}, {0, nullptr},
};

// The transport's remote port roles, one bit each.
constexpr CodeName kRoles[] = {
    {0x1, "FCP Target"},          {0x2, "FCP Initiator"},    {0x4, "IP Port"},
    {0x8, "FCP Dummy Initiator"}, {0x10, "NVMe Initiator"},  {0x20, "NVMe Target"},
    {0x40, "NVMe Discovery"},     {0x100, "fabric service"}, {0, nullptr},
};

}  // namespace

std::string role_names(std::string_view type) {
  std::string out;
  const auto bits = parse_hex32(type);
  for (const CodeName* row = kRoles; bits && row->name != nullptr; ++row)
    if ((*bits & row->code) != 0) out += (out.empty() ? "" : ", ") + std::string(row->name);
  return out;
}

std::string port_type_name(std::string_view code) {
  return name_of(kPortTypes, code);
}

std::string port_state_name(std::string_view code) {
  return name_of(kPortStates, code);
}

}  // namespace tavroctl
