#include "linux/driver.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qlinux {
namespace {

using sysfs::Stat;
using sysfs::Wwn;
using Number = std::optional<std::uint64_t>;
using Text = std::optional<std::string>;

// A local node: one adapter and its FC hosts (ports).
struct Node {
  const sysfs::Adapter* adapter = nullptr;
  std::vector<Wwn> ports;  // port_name per host, 0 when the host does not tell it
  std::vector<Wwn> names;  // node_name per host, 0 likewise
};

// A remote node as one local node sees it: the remote ports with one node
// name on the node's hosts, in host and port order. A remote port that the
// kernel keeps after it is gone has no names and belongs to no remote node.
struct Remote {
  Wwn wwn = 0;
  std::vector<sysfs::RemotePort> ports;
};

struct Subject {
  Driver& driver;
  Area a;
  std::shared_ptr<const sysfs::View> view;  // one view answers the whole request
  std::vector<Node> nodes;
  const Node* node = nullptr;
  unsigned host = 0;  // the port's host
  std::vector<Remote> remotes;
  const Remote* remote = nullptr;
  const sysfs::RemotePort* rport = nullptr;
  const sysfs::ScsiDevice* lun = nullptr;
  std::uint32_t index = 0;

  // Every statistics read of one answer ends by then, however many it makes.
  std::chrono::steady_clock::time_point deadline =
      std::chrono::steady_clock::now() + driver.stats_wait();

  sysfs::Model& m() { return driver.model(); }
  const std::vector<sysfs::Adapter>& adapters() const { return view->adapters; }
  const sysfs::FcHost* fc_of(unsigned h) const {
    auto it = view->hosts.find(h);
    return it == view->hosts.end() ? nullptr : &it->second;
  }
  const sysfs::FcHost* fc() const { return fc_of(host); }
  const sysfs::HostInfo& info() const {
    static const sysfs::HostInfo kNone;
    auto it = view->infos.find(host);
    return it == view->infos.end() ? kNone : it->second;
  }
  const std::vector<sysfs::RemotePort>& remote_ports(unsigned h) const {
    static const std::vector<sysfs::RemotePort> kNone;
    auto it = view->remote_ports.find(h);
    return it == view->remote_ports.end() ? kNone : it->second;
  }
  Number stat(unsigned h, Stat s) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return m().statistic(h, s, std::max(left, std::chrono::milliseconds::zero()));
  }
};

void discover(Subject& s) {
  s.view = s.m().view();
  s.nodes.clear();
  for (const sysfs::Adapter& a : s.adapters()) {
    Node n{&a, {}, {}};
    for (unsigned h : a.hosts) {
      const sysfs::FcHost* fc = s.fc_of(h);
      n.ports.push_back(fc ? fc->port_name.value_or(0) : 0);
      n.names.push_back(fc ? fc->node_name.value_or(0) : 0);
    }
    s.nodes.push_back(std::move(n));
  }
}

// A local node by its node WWN or the WWN of one of its ports.
const Node* find_node(Subject& s, Wwn wwn) {
  if (wwn == 0) return nullptr;
  for (const Node& n : s.nodes)
    if (std::count(n.names.begin(), n.names.end(), wwn)) return &n;
  for (const Node& n : s.nodes)
    if (std::count(n.ports.begin(), n.ports.end(), wwn)) return &n;
  return nullptr;
}

// A port by its WWN; a node WWN names the node's first port.
bool find_port(Subject& s, Wwn wwn) {
  if (wwn == 0) return false;
  for (const Node& n : s.nodes)
    for (std::size_t i = 0; i < n.ports.size(); ++i)
      if (n.ports[i] == wwn) return s.node = &n, s.host = n.adapter->hosts[i], true;
  s.node = find_node(s, wwn);
  if (s.node) s.host = s.node->adapter->hosts.front();
  return s.node != nullptr;
}

std::vector<Remote> remotes_of(Subject& s, const Node& n) {
  std::vector<Remote> out;
  for (unsigned h : n.adapter->hosts) {
    for (const sysfs::RemotePort& r : s.remote_ports(h)) {
      if (!r.node_name || !r.port_name) continue;
      auto it = std::find_if(out.begin(), out.end(),
                             [&](const Remote& x) { return x.wwn == *r.node_name; });
      if (it == out.end()) it = out.insert(out.end(), Remote{*r.node_name, {}});
      it->ports.push_back(r);
    }
  }
  return out;
}

// The path of a remote node that answers for it to one local node: the
// first of its ports with a SCSI target, else its first port.
const sysfs::RemotePort* primary(const Remote& r) {
  for (const sysfs::RemotePort& p : r.ports)
    if (p.scsi_target_id) return &p;
  return &r.ports.front();
}

bool find_remote_in(Subject& s, const Node* n, Wwn wwn) {
  if (!n) return false;
  s.node = n;
  s.remotes = remotes_of(s, *n);
  for (const Remote& r : s.remotes)
    if (r.wwn == wwn) return s.remote = &r, s.rport = primary(r), true;
  return false;
}

// A request that carries no local node: the remote node with its ports as
// every local node sees them, in adapter order, each remote port once.
bool find_remote_anywhere(Subject& s, Wwn wwn) {
  Remote all{wwn, {}};
  for (const Node& n : s.nodes) {
    for (Remote& r : remotes_of(s, n)) {
      if (r.wwn != wwn) continue;
      for (sysfs::RemotePort& p : r.ports)
        if (std::none_of(all.ports.begin(), all.ports.end(),
                         [&](const sysfs::RemotePort& x) { return x.port_name == p.port_name; }))
          all.ports.push_back(std::move(p));
    }
  }
  if (all.ports.empty()) return false;
  s.remotes = {std::move(all)};
  s.remote = &s.remotes.front();
  s.rport = &s.remote->ports.front();
  return true;
}

// How a request names what it asks about.
enum class Find : std::uint8_t {
  none,
  port80,           // port WWN at 80
  node80,           // node WWN at 80
  node_index80,     // node index at 80
  node84_port80,    // node WWN at 84, port index at 80
  node84_remote80,  // node WWN at 84, remote node index at 80
  remote80,         // remote node WWN at 80, as every local node sees it
  remote80_port88,  // ... and its port index at 88
  remote80_wwn88,   // ... and its port WWN at 88
  lxs_node,         // LXS: node WWN at 32
  lxs_remote,       // LXS: node WWN at 32, remote node WWN at 40
  lxs_lun,          // LXS: ... and LUN index at 20
  sif_adapter4,     // adapter index at 4
  sif_remote,       // node WWN at 4, remote node WWN at 12
  adapter,          // the destination is the adapter's name
};

bool find(Subject& s, Find f, std::string_view destination) {
  Area& a = s.a;
  switch (f) {
    case Find::none:
      return true;
    case Find::port80:
      return find_port(s, a.get_wwn(80));
    case Find::node80:
      return (s.node = find_node(s, a.get_wwn(80))) != nullptr;
    case Find::node_index80:
      if (a.get32(80) >= s.nodes.size()) return false;
      return s.node = &s.nodes[a.get32(80)], true;
    case Find::node84_port80:
      s.index = a.get32(80);
      return (s.node = find_node(s, a.get_wwn(84))) && s.index < s.node->ports.size();
    case Find::node84_remote80:
      s.index = a.get32(80);
      if (!(s.node = find_node(s, a.get_wwn(84)))) return false;
      s.remotes = remotes_of(s, *s.node);
      return s.index < s.remotes.size() && (s.remote = &s.remotes[s.index]);
    case Find::remote80:
      return find_remote_anywhere(s, a.get_wwn(80));
    case Find::remote80_port88:
      if (!find_remote_anywhere(s, a.get_wwn(80)) || a.get32(88) >= s.remote->ports.size())
        return false;
      return s.rport = &s.remote->ports[a.get32(88)], true;
    case Find::remote80_wwn88:
      if (!find_remote_anywhere(s, a.get_wwn(80))) return false;
      for (const sysfs::RemotePort& r : s.remote->ports)
        if (r.port_name == a.get_wwn(88)) return s.rport = &r, true;
      return false;
    case Find::lxs_node:
      return (s.node = find_node(s, a.get_wwn(32))) != nullptr;
    case Find::lxs_remote:
      return find_remote_in(s, find_node(s, a.get_wwn(32)), a.get_wwn(40));
    case Find::lxs_lun: {
      if (!find_remote_in(s, find_node(s, a.get_wwn(32)), a.get_wwn(40))) return false;
      s.index = a.get32(20);
      return s.index < s.rport->devices.size() && (s.lun = &s.rport->devices[s.index]);
    }
    case Find::sif_adapter4:
      s.index = a.get32(4);
      return s.index < s.adapters().size();
    case Find::sif_remote:
      return find_remote_in(s, find_node(s, a.get_wwn(4)), a.get_wwn(12));
    case Find::adapter:
      for (const Node& n : s.nodes)
        if (n.adapter->name == destination)
          return s.node = &n, s.host = n.adapter->hosts.front(), true;
      return false;
  }
  return false;
}

// --- sources and conversions ---------------------------------------------

template <typename T>
Number num(const std::optional<T>& v) {
  return v ? Number(static_cast<std::uint64_t>(*v)) : std::nullopt;
}

// The highest class of service the kernel lists (the programs show one bit).
Number highest_class(std::optional<std::uint32_t> bits) {
  if (!bits || *bits == 0) return std::nullopt;
  std::uint64_t n = 31;
  while (!(*bits & (1u << n))) --n;
  return n;
}

Number port_speed(Subject& s) {
  auto h = s.fc();
  return h ? num(h->speed_gbit) : std::nullopt;
}

// 1 while the port is online (also marginal), 0 in any other state the kernel names.
Number port_online(Subject& s) {
  auto h = s.fc();
  if (!h || !h->port_state || *h->port_state == sysfs::PortState::unknown) return std::nullopt;
  return *h->port_state == sysfs::PortState::online || *h->port_state == sysfs::PortState::marginal;
}

// The driver's topology codes: 0 NL_Port (a loop), 2 N_Port (fabric or point to point).
Number port_topology(Subject& s) {
  auto h = s.fc();
  if (!h || !h->port_type) return std::nullopt;
  switch (*h->port_type) {
    case sysfs::PortType::nport:
    case sysfs::PortType::ptp:
    case sysfs::PortType::npiv:
      return 2;
    case sysfs::PortType::nlport:
    case sysfs::PortType::lport:
      return 0;
    default:
      return std::nullopt;
  }
}

Number factory_wwn(Subject& s) {
  auto h = s.fc();
  return h ? num(h->permanent_port_name) : std::nullopt;
}

Number port_class(Subject& s) {
  auto h = s.fc();
  return h ? highest_class(h->supported_classes) : std::nullopt;
}

Number fc_address(Subject& s) {
  auto h = s.fc();
  return h ? num(h->port_id) : std::nullopt;
}

Number port_wwn(Subject& s) {
  return s.node->ports[0] ? Number(s.node->ports[0]) : std::nullopt;
}

template <Stat S>
Number port_stat(Subject& s) {
  return s.stat(s.host, S);
}

// The transport counts 4-byte words.
template <Stat S>
Number port_bytes(Subject& s) {
  auto w = s.stat(s.host, S);
  return w ? Number(*w * 4) : std::nullopt;
}

// A node's total over its ports; not available when one port does not tell.
template <Stat S, std::uint64_t Scale = 1>
Number node_stat(Subject& s) {
  std::uint64_t sum = 0;
  for (unsigned h : s.node->adapter->hosts) {
    auto v = s.stat(h, S);
    if (!v) return std::nullopt;
    sum += *v * Scale;
  }
  return sum;
}

Number node_count(Subject& s) {
  return s.nodes.size();
}
Number node_wwn(Subject& s) {
  return s.node->names[0] ? Number(s.node->names[0]) : std::nullopt;
}
Number node_port_count(Subject& s) {
  return s.node->ports.size();
}
Number node_remote_count(Subject& s) {
  return remotes_of(s, *s.node).size();
}
Number node_port_wwn(Subject& s) {
  Wwn w = s.node->ports[s.index];
  return w ? Number(w) : std::nullopt;
}
Number remote_wwn(Subject& s) {
  return s.remote->wwn;
}
Number remote_port_count(Subject& s) {
  return s.remote->ports.size();
}
// The roles and classes of every path of the remote node the request names.
Number remote_roles(Subject& s) {
  std::optional<std::uint32_t> roles;
  for (const sysfs::RemotePort& p : s.remote->ports)
    if (p.roles) roles = roles.value_or(0) | *p.roles;
  return num(roles);
}
Number remote_class(Subject& s) {
  std::optional<std::uint32_t> classes;
  for (const sysfs::RemotePort& p : s.remote->ports)
    if (p.supported_classes) classes = classes.value_or(0) | *p.supported_classes;
  return highest_class(classes);
}
Number remote_port_wwn(Subject& s) {
  return num(s.rport->port_name);
}
Number remote_fc_address(Subject& s) {
  return num(s.rport->port_id);
}
Number remote_target_id(Subject& s) {
  return num(s.rport->scsi_target_id);
}
Number remote_blocked(Subject& s) {
  if (!s.rport->port_state) return std::nullopt;
  return *s.rport->port_state == sysfs::PortState::blocked;
}
Number remote_lun_count(Subject& s) {
  return s.rport->devices_known ? Number(s.rport->devices.size()) : std::nullopt;
}
Number remote_scsi_type(Subject& s) {
  return s.rport->devices.empty() ? std::nullopt : num(s.rport->devices.front().type);
}
Number lun_number(Subject& s) {
  return s.lun->lun;
}

// The 8-byte FCP LUN of a kernel LUN number: 16-bit groups, first group first.
Number lun_address(Subject& s) {
  std::uint64_t lun = s.lun->lun, out = 0;
  for (int i = 0; i < 4; ++i, lun >>= 16) out |= (lun & 0xFFFF) << (48 - 16 * i);
  return out;
}

Number adapter_count(Subject& s) {
  return s.adapters().size();
}

Text vendor(Subject& s) {
  return s.info().manufacturer;
}
Text revision(Subject& s) {
  return s.info().hardware_version;
}
Text serial_number(Subject& s) {
  return s.info().serial_number;
}
Text description(Subject& s) {
  return s.info().description;
}
Text version(Subject& s) {
  return s.info().firmware_version;
}
Text model_text(Subject& s) {
  return s.info().model;
}
Text adapter_name(Subject& s) {
  return s.adapters()[s.index].name;
}

Text node_name(Subject& s) {
  s.host = s.node->adapter->hosts.front();
  auto h = s.fc();
  return h ? h->symbolic_name : std::nullopt;
}

Text node_status(Subject& s) {
  bool told = false;
  for (unsigned h : s.node->adapter->hosts) {
    const sysfs::FcHost* fc = s.fc_of(h);
    if (!fc || !fc->port_state || *fc->port_state == sysfs::PortState::unknown) continue;
    told = true;
    if (*fc->port_state == sysfs::PortState::online ||
        *fc->port_state == sysfs::PortState::marginal)
      return "Online";
  }
  return told ? Text("Link Down") : std::nullopt;
}

// INQUIRY's vendor (8), product (16) and revision (4), blank-padded.
Text lun_description(Subject& s) {
  if (!s.lun->vendor || !s.lun->model || !s.lun->rev) return std::nullopt;
  auto pad = [](std::string t, std::size_t n) {
    t.resize(n, ' ');
    return t;
  };
  return pad(*s.lun->vendor, 8) + pad(*s.lun->model, 16) + pad(*s.lun->rev, 4);
}

// --- where the answer goes -------------------------------------------------

enum class Put : std::uint8_t {
  u32_4,
  u32_20,
  u32_84,
  u32_92,
  u32_112,  // a 32-bit value; one that does not fit: not available
  count_92,
  count_112,  // a counter, reported modulo 2^32 as the driver's are
  class_96,   // a class number
  wwn_4,
  wwn_84,
  wwn_88,
  wwn_92,
  wwn_112,  // 8 bytes, transmission order
  text_8,
  text_84,
  text_112,         // zero-terminated text
  description_112,  // LXS object 16: 8 bytes at 112, the text at 120
  adapter_info,     // HPD_LTX_ADAPTER_INFO: by the code at 0
  refuse,           // a write: nothing is changed
};

using NumberOf = Number (*)(Subject&);
using TextOf = Text (*)(Subject&);

struct Row {
  std::uint32_t request;
  std::uint32_t object;  // LXS object id (0x0B00001E only)
  Find find;
  NumberOf number;  // the source and its conversion, or
  TextOf text;      // (both null: the kernel does not tell it)
  Put put;
};

constexpr std::uint32_t L = kLxsObjectRequest;

// One row per request of the catalogue, the LXS objects by object id.
constexpr Row kRows[] = {
    {0x15000016, 0, Find::port80, port_speed, nullptr, Put::u32_84},   // FCPH_GET_PORT_SPEED
    {0x15000018, 0, Find::port80, port_online, nullptr, Put::u32_84},  // FCPH_GET_PORT_STATE
    {0x1500001A, 0, Find::port80, nullptr, nullptr, Put::refuse},      // FCPH_SET_PORT_STATE
    {0x1500001C, 0, Find::port80, nullptr, vendor, Put::text_84},
    {0x1500001E, 0, Find::port80, nullptr, revision, Put::text_84},
    {0x15000020, 0, Find::port80, nullptr, serial_number, Put::text_84},
    {0x15000022, 0, Find::port80, nullptr, description, Put::text_84},
    {0x15000024, 0, Find::port80, nullptr, version, Put::text_84},
    {0x15000026, 0, Find::port80, port_topology, nullptr, Put::u32_84},
    {0x15000028, 0, Find::port80, factory_wwn, nullptr, Put::wwn_84},
    {0x1500002C, 0, Find::port80, port_class, nullptr, Put::class_96},
    {0x1500002E, 0, Find::port80, port_stat<Stat::tx_frames>, nullptr, Put::count_92},
    {0x15000030, 0, Find::port80, port_stat<Stat::rx_frames>, nullptr, Put::count_92},
    {0x15000032, 0, Find::port80, port_bytes<Stat::tx_words>, nullptr, Put::count_92},
    {0x15000034, 0, Find::port80, port_bytes<Stat::rx_words>, nullptr, Put::count_92},
    {0x15000036, 0, Find::port80, port_stat<Stat::invalid_tx_word_count>, nullptr, Put::count_92},
    {0x15000038, 0, Find::port80, port_stat<Stat::error_frames>, nullptr, Put::count_92},
    {0x1500003E, 0, Find::port80, nullptr, nullptr, Put::u32_92},  // FCPH_GET_PHYS_TYPE
    {0x15000040, 0, Find::port80, nullptr, nullptr, Put::u32_92},  // FCPH_GET_CONNECTOR_TYPE
    {0x15000042, 0, Find::port80, port_online, nullptr, Put::u32_92},
    {0x15000044, 0, Find::port80, port_stat<Stat::link_failure_count>, nullptr, Put::count_92},
    {0x15000046, 0, Find::none, node_count, nullptr, Put::u32_84},
    {0x15000048, 0, Find::node_index80, node_wwn, nullptr, Put::wwn_88},
    {0x15000050, 0, Find::none, nullptr, nullptr, Put::refuse},  // FCPH_SET_NODE_WWN
    {0x15000052, 0, Find::node80, node_port_count, nullptr, Put::u32_92},
    {0x15000054, 0, Find::node80, node_remote_count, nullptr, Put::u32_92},
    {0x15000056, 0, Find::node80, node_stat<Stat::tx_frames>, nullptr, Put::count_92},
    {0x15000058, 0, Find::node80, node_stat<Stat::rx_frames>, nullptr, Put::count_92},
    {0x15000060, 0, Find::node80, node_stat<Stat::tx_words, 4>, nullptr, Put::count_92},
    {0x15000062, 0, Find::node80, node_stat<Stat::rx_words, 4>, nullptr, Put::count_92},
    {0x15000064, 0, Find::node80, node_stat<Stat::invalid_tx_word_count>, nullptr, Put::count_92},
    {0x15000066, 0, Find::node80, node_stat<Stat::error_frames>, nullptr, Put::count_92},
    {0x15000068, 0, Find::node80, nullptr, nullptr, Put::count_92},  // FCPH_GET_SEND_DISCARD
    {0x15000070, 0, Find::node84_port80, node_port_wwn, nullptr, Put::wwn_88},
    {0x15000072, 0, Find::node84_remote80, remote_wwn, nullptr, Put::wwn_88},
    {0x15000074, 0, Find::remote80, remote_port_count, nullptr, Put::u32_92},
    {0x15000076, 0, Find::remote80, remote_roles, nullptr, Put::u32_92},
    {0x15000078, 0, Find::remote80, remote_class, nullptr, Put::u32_92},
    {0x15000082, 0, Find::none, nullptr, nullptr, Put::refuse},    // FCPH_SET_FC_PORT_WWN
    {0x15000084, 0, Find::port80, nullptr, nullptr, Put::u32_84},  // FCPH_GET_PORT_USR_TOPOLOGY
    {0x15000086, 0, Find::none, nullptr, nullptr, Put::refuse},    // FCPH_SET_PORT_USR_TOPOLOGY
    {0x15000090, 0, Find::node80, node_stat<Stat::dumped_frames>, nullptr, Put::count_92},
    {0x15000092, 0, Find::remote80_port88, remote_port_wwn, nullptr, Put::wwn_92},
    {0x15000094, 0, Find::remote80_wwn88, remote_fc_address, nullptr, Put::u32_92},
    {0x15000096, 0, Find::port80, fc_address, nullptr, Put::u32_92},
    {L, 1, Find::none, nullptr, nullptr, Put::u32_112},  // Auto Assign SCSI ID
    {L, 2, Find::lxs_node, nullptr, node_name, Put::text_112},
    {L, 3, Find::lxs_node, nullptr, node_status, Put::text_112},
    {L, 4, Find::lxs_node, nullptr, nullptr, Put::text_112},  // Class Preferences
    {L, 5, Find::lxs_node, node_stat<Stat::tx_frames>, nullptr, Put::count_112},
    {L, 6, Find::lxs_node, node_stat<Stat::rx_frames>, nullptr, Put::count_112},
    {L, 7, Find::lxs_node, node_stat<Stat::tx_words, 4>, nullptr, Put::count_112},
    {L, 8, Find::lxs_node, node_stat<Stat::rx_words, 4>, nullptr, Put::count_112},
    {L, 9, Find::lxs_node, node_stat<Stat::invalid_tx_word_count>, nullptr, Put::count_112},
    {L, 10, Find::lxs_node, node_stat<Stat::error_frames>, nullptr, Put::count_112},
    {L, 11, Find::lxs_node, nullptr, nullptr, Put::count_112},  // Send Discards
    {L, 12, Find::lxs_node, node_stat<Stat::dumped_frames>, nullptr, Put::count_112},
    {L, 13, Find::lxs_remote, remote_class, nullptr, Put::u32_112},
    {L, 14, Find::lxs_remote, remote_target_id, nullptr, Put::u32_112},
    {L, 15, Find::lxs_remote, remote_blocked, nullptr, Put::u32_112},
    {L, 16, Find::lxs_lun, nullptr, lun_description, Put::description_112},
    {L, 17, Find::lxs_remote, remote_lun_count, nullptr, Put::u32_112},
    {L, 18, Find::lxs_remote, remote_scsi_type, nullptr, Put::u32_112},
    {L, 19, Find::lxs_lun, lun_number, nullptr, Put::u32_112},
    {L, 20, Find::lxs_lun, lun_address, nullptr, Put::wwn_112},
    {0x1E00000A, 0, Find::none, adapter_count, nullptr, Put::u32_4},
    {0x1E00000B, 0, Find::sif_adapter4, nullptr, adapter_name, Put::text_8},
    {0x1E00000C, 0, Find::none, nullptr, nullptr, Put::u32_4},  // LXS_GET_FCP_MANUAL_ID
    {0x1E00000D, 0, Find::none, nullptr, nullptr, Put::refuse},
    {0x1E00000E, 0, Find::sif_remote, remote_target_id, nullptr, Put::u32_20},
    {0x1E00000F, 0, Find::none, nullptr, nullptr, Put::refuse},
    {0x1E000010, 0, Find::sif_remote, remote_blocked, nullptr, Put::u32_20},
    {0x1E000011, 0, Find::none, nullptr, nullptr, Put::refuse},
    {0x14000014, 0, Find::adapter, nullptr, nullptr, Put::adapter_info},
    {0x14000015, 0, Find::adapter, nullptr, nullptr, Put::u32_4},  // HPD_LTX_DUPLEX_STATUS
    {0x14000016, 0, Find::adapter, port_wwn, nullptr, Put::wwn_4},
    {0, 0, Find::none, nullptr, nullptr, Put::refuse},
};

std::size_t offset_of(Put p) {
  switch (p) {
    case Put::u32_4:
    case Put::wwn_4:
      return 4;
    case Put::text_8:
      return 8;
    case Put::u32_20:
      return 20;
    case Put::u32_84:
    case Put::wwn_84:
    case Put::text_84:
      return 84;
    case Put::wwn_88:
      return 88;
    case Put::u32_92:
    case Put::count_92:
    case Put::wwn_92:
      return 92;
    case Put::class_96:
      return 96;
    default:
      return 112;
  }
}

// Writes a row's value; the status word for it.
std::uint32_t put(Subject& s, const Row& r) {
  Area& a = s.a;
  const std::size_t at = offset_of(r.put);
  if (r.text) {
    Text t = r.text(s);
    if (!t) return kNotAvailable;
    if (r.put == Put::description_112) {
      a.put_text(120, *t);
      for (std::size_t i = 0; i < 8; ++i) a.bytes[112 + i] = static_cast<std::uint8_t>((*t)[i]);
      return kAnswered;
    }
    return a.put_text(at, *t, r.put == Put::text_8 ? 64 : 0) ? kAnswered : kNotAvailable;
  }
  if (!r.number) return kNotAvailable;
  Number v = r.number(s);
  if (!v) return kNotAvailable;
  switch (r.put) {
    case Put::wwn_4:
    case Put::wwn_84:
    case Put::wwn_88:
    case Put::wwn_92:
    case Put::wwn_112:
      a.put_wwn(at, *v);
      return kAnswered;
    case Put::count_92:
    case Put::count_112:
      a.put32(at, static_cast<std::uint32_t>(*v));
      return kAnswered;
    default:
      if (*v > 0xFFFFFFFFu) return kNotAvailable;
      a.put32(at, static_cast<std::uint32_t>(*v));
      return kAnswered;
  }
}

// Port count, bus name and model, each where the kernel tells it; the status
// follows the code at 0, the field the program asks for.
std::uint32_t adapter_info(Subject& s) {
  Area& a = s.a;
  const std::uint32_t code = a.get32(0);
  a.put32(4, static_cast<std::uint32_t>(s.node->ports.size()));
  a.put_text(8, s.node->adapter->pci.empty() ? "none" : "PCI", 64);
  Text model = model_text(s);
  bool model_ok = model && a.put_text(72, *model, 508 - 72);
  return code == 3 && !model_ok ? kNotAvailable : kAnswered;
}

const Row* row_of(std::uint32_t number, std::uint32_t object) {
  for (const Row* r = kRows; r->request; ++r)
    if (r->request == number && r->object == object) return r;
  return nullptr;
}

// Which family a destination serves: the FCPH numbers "fcph", the LXS object
// "fcp", the target support "/pvd/fcpN.sif", the HPD numbers an adapter name.
bool routed(std::string_view destination, std::uint32_t number) {
  if (is_fcph(number)) return destination == "fcph";
  if (number == kLxsObjectRequest) return destination == "fcp";
  if (number >> 24 == 0x1E)
    return destination.size() == 13 && destination.starts_with("/pvd/fcp") &&
           destination.ends_with(".sif") && destination[8] >= '0' && destination[8] <= '7';
  return number >> 24 == 0x14;
}

}  // namespace

void Driver::answer(std::string_view destination, std::uint32_t number, Area area) {
  if (request_size(number) == 0) return;  // not in the catalogue: back unchanged
  const bool lxs = number == kLxsObjectRequest;
  const std::uint32_t id = lxs ? area.get32(0) : 0;
  const bool write = lxs && (id & 0x80000000u);
  const Row* row = routed(destination, number) ? row_of(number, id & 0x7FFFFFFFu) : nullptr;
  std::uint32_t status = kUnknown;
  if (row && (write || row->put == Put::refuse)) {
    status = kNotSupported;
  } else if (row) {
    Subject s{*this, area, {}, {}};
    discover(s);
    if (!find(s, row->find, destination))
      status = kUnknown;
    else
      status = row->put == Put::adapter_info ? adapter_info(s) : put(s, *row);
  }
  if (lxs && status != kAnswered) status = kLxsFailed;
  area.put32(status_offset(number), status);
}

}  // namespace qlinux
