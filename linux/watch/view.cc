#include "linux/watch/view.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <optional>
#include <tuple>

namespace qlinux::watch {
namespace {

using sysfs::PortState;

const char* state_name(const std::optional<PortState>& s) {
  static constexpr const char* kNames[] = {"Unknown", "Not Present", "Online",      "Offline",
                                           "Blocked", "Bypassed",    "Diagnostics", "Linkdown",
                                           "Error",   "Loopback",    "Deleted",     "Marginal"};
  return s ? kNames[static_cast<int>(*s)] : "Unknown";
}

const char* type_name(const std::optional<sysfs::PortType>& t) {
  static constexpr const char* kNames[] = {"Unknown", "Other", "Not Present",    "NPort",
                                           "NLPort",  "LPort", "Point-To-Point", "NPIV VPORT"};
  return t ? kNames[static_cast<int>(*t)] : "Unknown";
}

std::string speed_text(const std::optional<std::uint32_t>& gbit) {
  if (!gbit) return "unknown";
  if (*gbit == 0) return "Not Negotiated";
  return std::to_string(*gbit) + " Gbit";
}

std::string roles_text(const std::optional<std::uint32_t>& roles) {
  static constexpr std::pair<std::uint32_t, const char*> kNames[] = {
      {sysfs::kRoleFcpTarget, "FCP Target"},
      {sysfs::kRoleFcpInitiator, "FCP Initiator"},
      {sysfs::kRoleIpPort, "IP Port"},
      {8, "FCP Dummy Initiator"},
      {0x10, "NVMe Initiator"},
      {0x20, "NVMe Target"},
      {0x40, "NVMe Discovery"},
      {sysfs::kRoleFabric, "fabric service"}};
  if (!roles) return "unknown";
  std::string out;
  for (const auto& [bit, name] : kNames) {
    if (*roles & bit) out += (out.empty() ? "" : ", ") + std::string(name);
  }
  return out.empty() ? "none" : out;
}

std::string optional_wwn(const std::optional<sysfs::Wwn>& w) {
  return w ? wwn_text(*w) : "none";
}

std::string port_id_text(const std::optional<std::uint32_t>& id) {
  if (!id) return "none";
  char text[16];
  std::snprintf(text, sizeof text, "%06X", *id);
  return text;
}

bool is_down(PortState s) {
  switch (s) {
    case PortState::linkdown:
    case PortState::offline:
    case PortState::not_present:
    case PortState::blocked:
    case PortState::bypassed:
    case PortState::deleted:
      return true;
    default:
      return false;
  }
}

// A port's or remote port's state change: its severity and what to call it.
std::pair<std::uint32_t, const char*> state_change(PortState to, bool remote) {
  if (to == PortState::online) return {kNotice, remote ? "online" : "link up"};
  if (to == PortState::error) return {kError, "in error"};
  if (to == PortState::marginal) return {kWarning, "marginal"};
  if (is_down(to)) return {kWarning, remote ? "not online" : "link down"};
  return {kNotice, "state changed"};
}

std::string remote_label(const sysfs::RemotePort& r) {
  return "remote port " + wwn_text(*r.port_name) + " (node " + optional_wwn(r.node_name) + ")";
}

class Differ {
 public:
  explicit Differ(std::vector<Change>& out) : out_(out) {}

  void adapters(const View& before, const View& after) {
    for (const auto& name : adapter_names(before)) {
      if (has_adapter(after, name)) continue;
      std::string online;
      for (const auto& h : before.hosts) {
        if (h.adapter == name && h.attributes.port_state == PortState::online)
          online += (online.empty() ? "" : ", ") + optional_wwn(h.attributes.port_name);
      }
      if (online.empty())
        add(kWarning, name + ": adapter removed");
      else
        add(kAlarm, name + ": adapter removed with ports online (" + online + ")");
    }
    for (const auto& name : adapter_names(after)) {
      if (has_adapter(before, name)) continue;
      std::size_t ports = 0;
      for (const auto& h : after.hosts) ports += h.adapter == name;
      add(kNotice,
          name + ": adapter added (" + std::to_string(ports) + " port" + (ports == 1 ? ")" : "s)"));
    }
  }

  void hosts(const View& before, const View& after) {
    for (const auto& h : before.hosts) {
      if (has_adapter(after, h.adapter) && !find_host(after, h.attributes.number))
        add(kWarning, port_label(h) + ": port gone");
    }
    for (const auto& h : after.hosts) {
      const View::Host* old = find_host(before, h.attributes.number);
      if (!old && has_adapter(before, h.adapter)) {
        add(kNotice, port_label(h) + ": port added (" + state_name(h.attributes.port_state) + ")");
      } else if (old && old->adapter == h.adapter) {
        host(*old, h);
        fpin(port_label(h) + ": ", old->fpin, h.fpin);
        remote_ports(*old, h);
      }
    }
  }

 private:
  void add(std::uint32_t severity, std::string text) {
    out_.push_back(make_change(severity, std::move(text)));
  }

  static std::vector<std::string> adapter_names(const View& v) {
    std::vector<std::string> names;
    for (const auto& h : v.hosts) {
      if (names.empty() || names.back() != h.adapter) names.push_back(h.adapter);
    }
    return names;
  }
  static bool has_adapter(const View& v, const std::string& name) {
    return std::any_of(v.hosts.begin(), v.hosts.end(),
                       [&](const View::Host& h) { return h.adapter == name; });
  }

  // A state change carries what came with it (a link that comes up with a
  // new speed is one event); the other attributes are told on their own
  // while the state holds.
  void host(const View::Host& b, const View::Host& a) {
    const sysfs::FcHost& o = b.attributes;
    const sysfs::FcHost& n = a.attributes;
    const std::string label = port_label(a);
    if (o.port_state != n.port_state) {
      auto [severity, what] = state_change(n.port_state.value_or(PortState::unknown), false);
      std::string text = label + ": " + what + " (" + state_name(o.port_state) + " -> " +
                         state_name(n.port_state) + ")";
      if (n.port_state == PortState::online) text += ", " + speed_text(n.speed_gbit);
      add(severity, text);
      return;
    }
    if (o.speed_gbit != n.speed_gbit)
      add(kNotice,
          label + ": speed " + speed_text(o.speed_gbit) + " -> " + speed_text(n.speed_gbit));
    if (o.port_type != n.port_type)
      add(kNotice,
          label + ": port type " + type_name(o.port_type) + " -> " + type_name(n.port_type));
    if (o.fabric_name != n.fabric_name)
      add(kNotice, label + ": fabric name " + optional_wwn(o.fabric_name) + " -> " +
                       optional_wwn(n.fabric_name));
    if (o.port_id != n.port_id)
      add(kNotice,
          label + ": port ID " + port_id_text(o.port_id) + " -> " + port_id_text(n.port_id));
  }

  using RportMap = std::map<sysfs::Wwn, const sysfs::RemotePort*>;
  static RportMap by_name(const View::Host& h) {
    RportMap m;
    for (const auto& r : h.remote_ports) {
      if (r.port_name) m.emplace(*r.port_name, &r);
    }
    return m;
  }

  void remote_ports(const View::Host& b, const View::Host& a) {
    const std::string label = port_label(a);
    const RportMap old_ports = by_name(b), new_ports = by_name(a);
    for (const auto& [wwn, r] : old_ports) {
      if (!new_ports.count(wwn)) add(kWarning, label + ": " + remote_label(*r) + " lost");
    }
    for (const auto& [wwn, r] : new_ports) {
      auto it = old_ports.find(wwn);
      if (it == old_ports.end()) {
        add(kNotice,
            label + ": " + remote_label(*r) + " added (" + state_name(r->port_state) + ")");
        continue;
      }
      const sysfs::RemotePort& o = *it->second;
      if (o.port_state != r->port_state) {
        auto [severity, what] = state_change(r->port_state.value_or(PortState::unknown), true);
        add(severity, label + ": " + remote_label(*r) + " " + what + " (" +
                          state_name(o.port_state) + " -> " + state_name(r->port_state) + ")");
      }
      if (o.roles != r->roles)
        add(kNotice, label + ": " + remote_label(*r) + " roles " + roles_text(o.roles) + " -> " +
                         roles_text(r->roles));
      luns(label, o, *r);
      fpin(label + ": remote port " + wwn_text(wwn) + " ", fpin_of(b, o), fpin_of(a, *r));
    }
  }

  static sysfs::FpinCounts fpin_of(const View::Host& h, const sysfs::RemotePort& r) {
    const auto k = static_cast<std::size_t>(&r - h.remote_ports.data());
    return k < h.remote_fpin.size() ? h.remote_fpin[k] : sysfs::FpinCounts{};
  }

  // A counter that rose: the fabric told of trouble on this path.
  void fpin(const std::string& who, const sysfs::FpinCounts& o, const sysfs::FpinCounts& n) {
    const std::pair<std::optional<std::uint64_t> sysfs::FpinCounts::*, const char*> kinds[] = {
        {&sysfs::FpinCounts::link_integrity, "link integrity"},
        {&sysfs::FpinCounts::congestion, "congestion"},
        {&sysfs::FpinCounts::delivery, "delivery"}};
    for (const auto& [field, name] : kinds) {
      const auto& before = o.*field;
      const auto& after = n.*field;
      if (before && after && *after > *before)
        add(kWarning, who + "FPIN " + name + " notifications +" + std::to_string(*after - *before) +
                          " (" + std::to_string(*after) + " in all)");
    }
  }

  static auto key(const sysfs::ScsiDevice& d) { return std::tuple(d.channel, d.target, d.lun); }
  static bool has(const std::vector<sysfs::ScsiDevice>& list, const sysfs::ScsiDevice& d) {
    return std::any_of(list.begin(), list.end(),
                       [&](const sysfs::ScsiDevice& e) { return key(e) == key(d); });
  }
  static std::string lun_text(const sysfs::ScsiDevice& d) {
    std::string text = "LUN " + std::to_string(d.lun) + " (" + std::to_string(d.host) + ":" +
                       std::to_string(d.channel) + ":" + std::to_string(d.target) + ":" +
                       std::to_string(d.lun);
    if (!d.block.empty()) text += " " + d.block;
    return text + ")";
  }

  void luns(const std::string& label, const sysfs::RemotePort& o, const sysfs::RemotePort& n) {
    const std::string who = label + ": remote port " + wwn_text(*n.port_name) + " ";
    for (const auto& d : o.devices) {
      if (!has(n.devices, d)) add(kWarning, who + lun_text(d) + " lost");
    }
    for (const auto& d : n.devices) {
      if (!has(o.devices, d)) add(kNotice, who + lun_text(d) + " added");
    }
  }

  std::vector<Change>& out_;
};

}  // namespace

std::string wwn_text(sysfs::Wwn wwn) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIX64, wwn);
  return text;
}

std::string port_label(const View::Host& host) {
  const auto& name = host.attributes.port_name;
  return host.adapter +
         (name ? " port " + wwn_text(*name) : " host" + std::to_string(host.attributes.number));
}

const View::Host* find_host(const View& view, unsigned n) {
  for (const auto& h : view.hosts) {
    if (h.attributes.number == n) return &h;
  }
  return nullptr;
}

Change make_change(std::uint32_t severity, std::string text) {
  if (text.size() > kTextMax) text.resize(kTextMax);
  return Change{severity, std::move(text)};
}

View look(const sysfs::Model& model) {
  View view;
  const auto now = model.view();  // one view: hosts and remote ports of the same look
  for (const sysfs::Adapter& adapter : now->adapters) {
    for (unsigned n : adapter.hosts) {
      auto attributes = now->hosts.find(n);
      if (attributes == now->hosts.end()) continue;
      auto ports = now->remote_ports.find(n);
      View::Host host{
          adapter.name,
          attributes->second,
          ports == now->remote_ports.end() ? std::vector<sysfs::RemotePort>{} : ports->second,
          {},
          {}};
      host.fpin = sysfs::host_fpin(model.root(), n);
      for (const auto& r : host.remote_ports)
        host.remote_fpin.push_back(sysfs::remote_port_fpin(model.root(), r.name));
      view.hosts.push_back(std::move(host));
    }
  }
  return view;
}

std::vector<Change> diff(const View& before, const View& after) {
  std::vector<Change> out;
  Differ d(out);
  d.adapters(before, after);
  d.hosts(before, after);
  return out;
}

}  // namespace qlinux::watch
