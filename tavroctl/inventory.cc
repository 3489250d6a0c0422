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

// No more of anything than the daemon and the driver can hold.
constexpr unsigned kMaxAdapters = 8, kMaxPorts = 8, kMaxRemoteNodes = 512, kMaxRemotePorts = 16,
                   kMaxLuns = 64, kMaxDiscovered = 1024;

unsigned count_of(const std::optional<std::string>& text, unsigned cap) {
  auto n = text ? parse_unsigned(*text) : std::nullopt;
  return n ? static_cast<unsigned>(std::min<std::uint64_t>(*n, cap)) : 0;
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
  p.state = s.agent("3.5.1.5." + p.wwn);
  if (want.details) {
    p.speed = s.agent("3.5.1.3." + p.wwn);
    p.link = s.agent("3.6.1.3." + p.wwn + ".0");
    p.fc_address = s.agent("3.7.1.7." + p.wwn);
  }
  if (!want.stats) return;
  for (const CounterRow* c = kCounters; c->key != nullptr; ++c)
    if (c->suffix != nullptr)
      p.counters.push_back(s.agent(std::string(c->suffix) + "." + p.wwn + c->after));
}

void read_remote_node(Session& s, const std::string& node, RemoteNode& r) {
  const std::string nr = node + "." + r.wwn;
  r.type = s.agent("4.8.1.2." + nr).value_or("");
  r.target_id = s.agent("4.9.1.2." + nr).value_or("");
  r.blocked = s.agent("4.9.1.3." + nr).value_or("");
  if (auto luns = s.agent("4.9.1.4." + nr); luns && parse_unsigned(*luns)) {
    r.lun_count = count_of(luns, kMaxLuns);
    for (unsigned l = 0; l < *r.lun_count; ++l)
      r.luns.push_back(s.agent("4.13.1.2." + nr + "." + std::to_string(l)).value_or("?"));
  }
  const unsigned n = count_of(s.agent("4.8.1.1." + nr), kMaxRemotePorts);
  for (unsigned k = 0; k < n; ++k) {
    RemotePort port;
    port.wwn = wwn_or_empty(s.agent("4.11.1.2." + nr + "." + std::to_string(k)));
    if (port.wwn.empty()) continue;
    port.fc_address = s.agent("4.12.1.1." + nr + "." + port.wwn).value_or("");
    r.ports.push_back(port);
  }
}

void read_remotes(Session& s, Adapter& a) {
  if (a.node_wwn.empty()) return;
  const unsigned n = count_of(s.agent("4.3.1.3." + a.node_wwn), kMaxRemoteNodes);
  for (unsigned i = 0; i < n && !s.failed(); ++i) {
    RemoteNode r;
    r.wwn = wwn_or_empty(s.agent("4.7.1.2." + a.node_wwn + "." + std::to_string(i)));
    if (r.wwn.empty()) continue;
    read_remote_node(s, a.node_wwn, r);
    a.remotes.push_back(std::move(r));
  }
}

Adapter read_adapter(Session& s, unsigned index, const Want& want) {
  Adapter a;
  a.index = static_cast<int>(index);
  a.name = s.agent("3.2.1.2." + std::to_string(index)).value_or("");
  if (a.name.empty()) return a;
  a.node_wwn = wwn_or_empty(s.agent("4.2.1.2." + std::to_string(index)));
  if (want.details) {
    a.model = s.agent("3.3.1.4." + a.name);
    a.bus_slot = s.agent("3.3.1.3." + a.name);
  }
  const unsigned ports = count_of(s.agent("3.3.1.1." + a.name), kMaxPorts);
  for (unsigned j = 0; j < ports && !s.failed(); ++j) {
    Port p;
    p.adapter = a.index;
    p.index = static_cast<int>(j);
    // The adapter's port WWN object names its first port whatever the index;
    // the node's port objects name each port.
    p.wwn = wwn_or_empty(s.agent("4.6.1.2." + a.node_wwn + "." + std::to_string(j)));
    if (p.wwn.empty()) continue;
    read_port(s, p, want);
    a.ports.push_back(std::move(p));
  }
  if (want.remotes) read_remotes(s, a);
  return a;
}

void read_hba_port(Session& s, const std::string& handle, unsigned index,
                   std::vector<Adapter>& adapters, const Want& want) {
  const std::string hp = handle + "." + std::to_string(index);
  auto attributes = hba_fields(s.hbaapi("8.0." + hp).value_or(""), hba::kPortFields, 9, 10);
  if (attributes.empty()) return;
  Port* p = find_port(adapters, normalize_wwn(attributes[hba::kPortWwn]).value_or(""));
  if (p == nullptr) return;
  p->hba = attributes;
  if (want.stats)
    p->hba_stats = hba_fields(s.hbaapi("9.0." + hp).value_or(""), hba::kStatsFields, 0, 0);
  if (!want.remotes) return;
  const unsigned n = count_of(attributes[hba::kDiscovered], kMaxDiscovered);
  for (unsigned d = 0; d < n; ++d) {
    auto remote = hba_fields(s.hbaapi("10.0." + hp + "." + std::to_string(d)).value_or(""),
                             hba::kPortFields, 9, 10);
    if (!remote.empty()) p->discovered.push_back(std::move(remote));
  }
}

void read_hba_adapter(Session& s, unsigned index, std::vector<Adapter>& adapters,
                      const Want& want) {
  auto name = s.hbaapi("4.0." + std::to_string(index));
  auto handle = name ? s.hbaapi("5.0." + token(*name)) : std::nullopt;
  if (!handle || !parse_hex32(*handle).value_or(0)) return;
  auto attributes = hba_fields(s.hbaapi("7.0." + *handle).value_or(""), hba::kAdapterFields, 1, 13);
  if (!attributes.empty()) {
    const std::string node = normalize_wwn(attributes[hba::kNodeWwn]).value_or("");
    for (Adapter& a : adapters)
      if (!node.empty() && a.node_wwn == node) a.hba = attributes;
  }
  const unsigned ports =
      attributes.empty() ? kMaxPorts : count_of(attributes[hba::kPorts], kMaxPorts);
  for (unsigned j = 0; j < ports; ++j) read_hba_port(s, *handle, j, adapters, want);
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

Reply Session::ask(std::string_view request) {
  Reply reply = client_.ask(request);
  if (!reply.ok() && reply.outcome != Outcome::kErrorReply && !failed()) failure_ = reply;
  return reply;
}

std::optional<std::string> Session::keep(Reply reply) {
  if (reply.ok()) return reply.text;
  return std::nullopt;
}

std::optional<std::string> Session::agent(std::string_view suffix) {
  if (failed()) return std::nullopt;
  return keep(ask("FCGET " + std::string(kAgentTree) + std::string(suffix)));
}

// The HBA API is optional: a daemon without it (disabled, no library) still
// shows everything the driver answers, so its failures are not remembered.
std::optional<std::string> Session::hbaapi(std::string_view text) {
  if (failed()) return std::nullopt;
  Reply reply = client_.ask("HBAAPI " + std::string(text));
  if (reply.outcome == Outcome::kCannotConnect) failure_ = reply;
  return keep(reply);
}

std::vector<Adapter> gather(Session& s, Want want) {
  std::vector<Adapter> adapters;
  auto count = s.agent("3.1.0");
  const unsigned n = count_of(count, kMaxAdapters);
  for (unsigned i = 0; i < n && !s.failed(); ++i) adapters.push_back(read_adapter(s, i, want));
  if (!want.hba || s.failed()) return adapters;
  const unsigned hba_count = count_of(s.hbaapi("3.0"), kMaxAdapters);
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
  const unsigned count = count_of(s.agent("3.1.0"), kMaxAdapters);
  for (unsigned i = 0; port && i < count; ++i) {
    const std::string index = std::to_string(i);
    auto name = s.agent("3.2.1.2." + index);
    if (!name || (adapter != index && adapter != *name)) continue;
    if (*port >= count_of(s.agent("3.3.1.1." + *name), kMaxPorts)) return std::nullopt;
    const std::string node = wwn_or_empty(s.agent("4.2.1.2." + index));
    return normalize_wwn(s.agent("4.6.1.2." + node + "." + std::to_string(*port)).value_or(""));
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
