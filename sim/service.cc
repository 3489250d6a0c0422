#include "sim/service.h"

#include <algorithm>

namespace sim {

namespace {

// The status word of every answer: 0 answered; otherwise the value fields
// are left as sent.
constexpr std::uint32_t kStatusOk = 0;
constexpr std::uint32_t kStatusFailed = 2;        // LXS families: "Operation failed"
constexpr std::uint32_t kStatusUnknown = 2;       // no such adapter, port, node or index
constexpr std::uint32_t kStatusNotAvailable = 6;  // the adapter does not keep this value
constexpr std::uint32_t kStatusNotSupported = 7;  // a write that cannot be made; nothing changed
// Where the target-support (0x1E00000C to 11) and adapter requests carry it.
constexpr std::size_t kSifStatus = 252;
constexpr std::size_t kInfoStatus = 508;
constexpr std::size_t kAdapterStatus = 252;

struct PortRef {
  Adapter* adapter = nullptr;
  Port* port = nullptr;
  int index = -1;
};

std::string port_label(const Adapter& adapter, int index) {
  return "adapter " + adapter.name + " port " + std::to_string(index) + " (" +
         wwn_text(adapter.ports[index].wwn) + ")";
}

// A port by its WWN; a node WWN names its adapter's first port (the standard
// MIB agent addresses port queries by the adapter's node WWN).
PortRef find_port(Model& model, const Wwn& wwn) {
  for (Adapter& a : model.adapters) {
    for (std::size_t i = 0; i < a.ports.size(); ++i) {
      if (a.ports[i].wwn == wwn) return {&a, &a.ports[i], static_cast<int>(i)};
    }
  }
  for (Adapter& a : model.adapters) {
    if (a.node_wwn == wwn && !a.ports.empty()) return {&a, &a.ports[0], 0};
  }
  return {};
}

// A local node (one per adapter) by its node WWN, or by the WWN of one of its ports.
Adapter* find_node(Model& model, const Wwn& wwn) {
  for (Adapter& a : model.adapters) {
    if (a.node_wwn == wwn) return &a;
  }
  for (Adapter& a : model.adapters) {
    for (const Port& p : a.ports) {
      if (p.wwn == wwn) return &a;
    }
  }
  return nullptr;
}

bool wwn_in_use(const Model& model, const Wwn& wwn) {
  for (const Adapter& a : model.adapters) {
    if (a.node_wwn == wwn) return true;
    for (const Port& p : a.ports) {
      if (p.wwn == wwn) return true;
    }
  }
  return false;
}

// The remote nodes seen by a local node: those of all its ports, each WWN once,
// in port order.
std::vector<RemoteNode*> remote_nodes_of(Adapter& node) {
  std::vector<RemoteNode*> list;
  for (Port& p : node.ports) {
    for (RemoteNode& rn : p.remote_nodes) {
      bool seen = std::any_of(list.begin(), list.end(),
                              [&](const RemoteNode* r) { return r->wwn == rn.wwn; });
      if (!seen) list.push_back(&rn);
    }
  }
  return list;
}

RemoteNode* find_remote_in(Adapter* node, const Wwn& wwn) {
  if (!node) return nullptr;
  for (RemoteNode* rn : remote_nodes_of(*node)) {
    if (rn->wwn == wwn) return rn;
  }
  return nullptr;
}

RemoteNode* find_remote_any(Model& model, const Wwn& wwn) {
  for (Adapter& a : model.adapters) {
    if (RemoteNode* rn = find_remote_in(&a, wwn)) return rn;
  }
  return nullptr;
}

std::uint64_t node_counter(const Adapter& node, Counter counter, std::int64_t now_ms) {
  std::uint64_t sum = 0;
  for (const Port& p : node.ports) sum += counter_value(p, counter, now_ms);
  return sum;
}

Wwn adapter_port_wwn(const Adapter& a) {
  if (a.port_wwn) return *a.port_wwn;
  return a.ports.empty() ? Wwn{} : a.ports[0].wwn;
}

void set_blocked(RemoteNode& rn, bool blocked, const Adapter* node, std::vector<Event>& events) {
  if (rn.blocked == blocked) return;
  rn.blocked = blocked;
  events.push_back({kSeverityNotice, "Remote node " + wwn_text(rn.wwn) +
                                         (blocked ? " blocked" : " unblocked") +
                                         (node ? " on adapter " + node->name : std::string())});
}

std::uint32_t low32(std::uint64_t v) {
  return static_cast<std::uint32_t>(v);
}

// FCPH port and node attributes ("fcph"). Offset 16 carries the status: 0
// answered, 2 unknown WWN, index or request, 7 a new WWN another port or node
// already has.
void answer_fcph(Model& model, std::uint32_t number, Area a, std::int64_t now_ms,
                 std::vector<Event>& events) {
  bool ok = true;
  std::uint32_t failure = kStatusUnknown;
  const Wwn arg80 = a.get_wwn(80);
  PortRef ref;
  auto port = [&]() -> Port* {
    ref = find_port(model, arg80);
    ok = ref.port != nullptr;
    return ref.port;
  };
  auto node = [&](const Wwn& wwn) -> Adapter* {
    Adapter* n = find_node(model, wwn);
    ok = n != nullptr;
    return n;
  };
  auto counter_at_92 = [&](Counter c) {
    if (Port* p = port()) a.put32(92, low32(counter_value(*p, c, now_ms)));
  };
  auto node_counter_at_92 = [&](Counter c) {
    if (Adapter* n = node(arg80)) a.put32(92, low32(node_counter(*n, c, now_ms)));
  };
  auto text_at_84 = [&](std::string Port::*field) {
    if (Port* p = port()) a.put_text(84, (*p).*field);
  };

  switch (number) {
    case 0x15000016:  // FCPH_GET_PORT_SPEED
      if (Port* p = port()) a.put32(84, p->speed);
      break;
    case 0x15000018:  // FCPH_GET_PORT_STATE
      if (Port* p = port()) a.put32(84, p->state);
      break;
    case 0x1500001A: {  // FCPH_SET_PORT_STATE
      const std::uint32_t state = a.get32(88);
      if (Port* p = port()) {
        const bool was_enabled = p->state != 0;
        p->state = state;
        if (was_enabled != (state != 0)) {
          change_link(model, static_cast<int>(ref.adapter - model.adapters.data()), ref.index,
                      state != 0, now_ms, events);
        }
      }
      break;
    }
    case 0x1500001C:  // FCPH_GET_PORT_VENDOR
      text_at_84(&Port::vendor);
      break;
    case 0x1500001E:  // FCPH_GET_PORT_REVISION
      text_at_84(&Port::revision);
      break;
    case 0x15000020:  // FCPH_GET_PORT_SERIAL_NUMBER
      text_at_84(&Port::serial_number);
      break;
    case 0x15000022:  // FCPH_GET_PORT_DESCRIPTION
      text_at_84(&Port::description);
      break;
    case 0x15000024:  // FCPH_GET_PORT_VERSION
      text_at_84(&Port::version);
      break;
    case 0x15000026:  // FCPH_GET_PORT_TOPOLOGY
      if (Port* p = port()) a.put32(84, p->topology);
      break;
    case 0x15000028:  // FCPH_GET_FACTORY_PORT_WWN
      if (Port* p = port()) a.put_wwn(84, p->factory_wwn);
      break;
    case 0x1500002C:  // FCPH_GET_SUPPORTED_CLASSES
      if (Port* p = port()) a.put32(96, p->class_bit);
      break;
    case 0x1500002E:  // FCPH_GET_TX_SEQS
      counter_at_92(kTxSeqs);
      break;
    case 0x15000030:  // FCPH_GET_RX_SEQS
      counter_at_92(kRxSeqs);
      break;
    case 0x15000032:  // FCPH_GET_TX_BYTES
      counter_at_92(kTxBytes);
      break;
    case 0x15000034:  // FCPH_GET_RX_BYTES
      counter_at_92(kRxBytes);
      break;
    case 0x15000036:  // FCPH_GET_TX_ERRORS
      counter_at_92(kTxErrors);
      break;
    case 0x15000038:  // FCPH_GET_RX_ERRORS
      counter_at_92(kRxErrors);
      break;
    case 0x1500003E:  // FCPH_GET_PHYS_TYPE
      if (Port* p = port()) a.put32(92, p->phys_type);
      break;
    case 0x15000040:  // FCPH_GET_CONNECTOR_TYPE
      if (Port* p = port()) a.put32(92, p->connector_type);
      break;
    case 0x15000042:  // FCPH_GET_LINK_STATE
      if (Port* p = port()) a.put32(92, p->link_up ? 1 : 0);
      break;
    case 0x15000044:  // FCPH_GET_LINK_TRANSITIONS
      if (Port* p = port()) a.put32(92, p->link_transitions);
      break;
    case 0x15000046:  // FCPH_GET_LOCAL_NODES_COUNT
      a.put32(84, static_cast<std::uint32_t>(model.adapters.size()));
      break;
    case 0x15000048: {  // FCPH_GET_NODE_WWN: 80 node index
      const std::uint32_t index = a.get32(80);
      ok = index < model.adapters.size();
      if (ok) a.put_wwn(88, model.adapters[index].node_wwn);
      break;
    }
    case 0x15000050: {  // FCPH_SET_NODE_WWN: 84 node WWN, 92 new node WWN
      const Wwn new_wwn = a.get_wwn(92);
      if (Adapter* n = node(a.get_wwn(84))) {
        ok = n->node_wwn == new_wwn || !wwn_in_use(model, new_wwn);
        if (ok) n->node_wwn = new_wwn;
        failure = kStatusNotSupported;
      }
      break;
    }
    case 0x15000052:  // FCPH_GET_NODE_PORT_CT
      if (Adapter* n = node(arg80)) a.put32(92, static_cast<std::uint32_t>(n->ports.size()));
      break;
    case 0x15000054:  // FCPH_GET_REMOTE_NODE_CT
      if (Adapter* n = node(arg80)) {
        a.put32(92, static_cast<std::uint32_t>(remote_nodes_of(*n).size()));
      }
      break;
    case 0x15000056:  // FCPH_GET_SEND_OPS
      node_counter_at_92(kTxSeqs);
      break;
    case 0x15000058:  // FCPH_GET_RCV_OPS
      node_counter_at_92(kRxSeqs);
      break;
    case 0x15000060:  // FCPH_GET_SEND_BYTES
      node_counter_at_92(kTxBytes);
      break;
    case 0x15000062:  // FCPH_GET_RCV_BYTES
      node_counter_at_92(kRxBytes);
      break;
    case 0x15000064:  // FCPH_GET_SEND_ERRORS
      node_counter_at_92(kTxErrors);
      break;
    case 0x15000066:  // FCPH_GET_RCV_ERRORS
      node_counter_at_92(kRxErrors);
      break;
    case 0x15000068:  // FCPH_GET_SEND_DISCARD
      node_counter_at_92(kTxDiscards);
      break;
    case 0x15000090:  // FCPH_GET_RCV_DISCARD
      node_counter_at_92(kRxDiscards);
      break;
    case 0x15000070: {  // FCPH_GET_PORTWWN: 80 index, 84 node WWN
      const std::uint32_t index = a.get32(80);
      if (Adapter* n = node(a.get_wwn(84))) {
        ok = index < n->ports.size();
        if (ok) a.put_wwn(88, n->ports[index].wwn);
      }
      break;
    }
    case 0x15000072: {  // FCPH_GET_REMOTE_NODE_WWN: 80 index, 84 node WWN
      const std::uint32_t index = a.get32(80);
      if (Adapter* n = node(a.get_wwn(84))) {
        auto list = remote_nodes_of(*n);
        ok = index < list.size();
        if (ok) a.put_wwn(88, list[index]->wwn);
      }
      break;
    }
    case 0x15000074:    // FCPH_GET_REMOTE_NODE_PC
    case 0x15000076:    // FCPH_GET_REMOTE_NODE_TYPE
    case 0x15000078: {  // FCPH_GET_REMOTE_NODE_CLASS
      RemoteNode* rn = find_remote_any(model, arg80);
      ok = rn != nullptr;
      if (!ok) break;
      if (number == 0x15000074) a.put32(92, static_cast<std::uint32_t>(rn->ports.size()));
      if (number == 0x15000076) a.put32(92, rn->type);
      if (number == 0x15000078) a.put32(92, rn->class_bit);
      break;
    }
    case 0x15000082: {  // FCPH_SET_FC_PORT_WWN: 80 port WWN, 88 new WWN
      const Wwn new_wwn = a.get_wwn(88);
      if (Port* p = port()) {
        ok = p->wwn == new_wwn || !wwn_in_use(model, new_wwn);
        failure = kStatusNotSupported;
        if (ok) {
          if (ref.adapter->port_wwn && *ref.adapter->port_wwn == p->wwn) {
            ref.adapter->port_wwn = new_wwn;
          }
          p->wwn = new_wwn;
        }
      }
      break;
    }
    case 0x15000084:  // FCPH_GET_PORT_USR_TOPOLOGY
      if (Port* p = port()) a.put32(84, p->user_topology);
      break;
    case 0x15000086: {  // FCPH_SET_PORT_USR_TOPOLOGY: 88 new value
      const std::uint32_t value = a.get32(88);
      if (Port* p = port()) p->user_topology = value;
      break;
    }
    case 0x15000092: {  // FCPH_GET_REMOTE_NODE_PORTWWN: 80 remote node WWN, 88 index
      const std::uint32_t index = a.get32(88);
      RemoteNode* rn = find_remote_any(model, arg80);
      ok = rn != nullptr && index < rn->ports.size();
      if (ok) a.put_wwn(92, rn->ports[index].wwn);
      break;
    }
    case 0x15000094: {  // FCPH_GET_REMOTE_NODE_FCADDR: 80 remote node WWN, 88 its port WWN
      const Wwn port_wwn = a.get_wwn(88);
      ok = false;
      for (Adapter& ad : model.adapters) {
        RemoteNode* rn = find_remote_in(&ad, arg80);
        if (!rn) continue;
        for (const RemotePort& rp : rn->ports) {
          if (rp.wwn == port_wwn) {
            a.put32(92, rp.fc_address);
            ok = true;
            break;
          }
        }
        if (ok) break;
      }
      break;
    }
    case 0x15000096:  // FCPH_GET_FC_ADDRESS: no address while the link is down
      if (Port* p = port()) a.put32(92, p->link_up ? p->fc_address : 0);
      break;
    default:
      ok = false;  // not a request of the catalogue: answered with the data unchanged
      break;
  }
  a.put32(16, ok ? kStatusOk : failure);
}

// LXS object message ("fcp", 0x0B00001E): objects 1 to 20.
void answer_lxs_object(Model& model, Area a, std::int64_t now_ms, std::uint32_t lxs_status,
                       std::vector<Event>& events) {
  if (lxs_status != 0) {
    a.put32(16, lxs_status);
    return;
  }
  const std::uint32_t id = a.get32(0);
  const bool write = (id & 0x80000000u) != 0;
  const std::uint32_t object = id & 0x7FFFFFFFu;
  const std::uint32_t index = a.get32(20);
  Adapter* node = find_node(model, a.get_wwn(32));
  RemoteNode* rn = find_remote_in(node, a.get_wwn(40));
  Lun* lun = rn && index < rn->luns.size() ? &rn->luns[index] : nullptr;
  constexpr std::size_t kValue = 112;
  constexpr std::size_t kText16 = 120;

  bool ok = true;
  auto readable = [&](bool found) {
    ok = found && !write;
    return ok;
  };
  switch (object) {
    case 1:  // Auto Assign SCSI ID: the FCP manual SCSI-ID mode
      if (write) {
        model.fcp_manual_id = static_cast<std::int32_t>(a.get32(kValue));
      } else {
        a.put32(kValue, static_cast<std::uint32_t>(model.fcp_manual_id));
      }
      break;
    case 2:  // Node Name
      if (readable(node)) a.put_text(kValue, node->node_name);
      break;
    case 3:  // Node Status
      if (readable(node)) {
        bool up = std::any_of(node->ports.begin(), node->ports.end(),
                              [](const Port& p) { return p.link_up; });
        a.put_text(kValue, up ? "Online" : "Link Down");
      }
      break;
    case 4:  // Class Preferences
      ok = node != nullptr;
      if (!ok) break;
      if (write) {
        node->class_preferences = a.get_text(kValue, 143);
      } else {
        a.put_text(kValue, node->class_preferences);
      }
      break;
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
      // Send/Receive Operations, Bytes, Errors, Discards: the node's port totals
      if (readable(node)) {
        static constexpr Counter kObjectCounter[] = {
            kTxSeqs, kRxSeqs, kTxBytes, kRxBytes, kTxErrors, kRxErrors, kTxDiscards, kRxDiscards};
        a.put32(kValue, low32(node_counter(*node, kObjectCounter[object - 5], now_ms)));
      }
      break;
    case 13:  // Service Class
      ok = rn != nullptr;
      if (!ok) break;
      if (write) {
        rn->service_class = static_cast<std::int32_t>(a.get32(kValue));
      } else {
        a.put32(kValue, static_cast<std::uint32_t>(rn->service_class));
      }
      break;
    case 14:  // Target ID
      ok = rn != nullptr;
      if (!ok) break;
      if (write) {
        rn->target_id = static_cast<std::int32_t>(a.get32(kValue));
      } else {
        a.put32(kValue, static_cast<std::uint32_t>(rn->target_id));
      }
      break;
    case 15:  // Target Blocking
      ok = rn != nullptr;
      if (!ok) break;
      if (write) {
        set_blocked(*rn, a.get32(kValue) != 0, node, events);
      } else {
        a.put32(kValue, rn->blocked ? 1 : 0);
      }
      break;
    case 16:  // Description: 8 bytes at 112 (first 8 characters, blank-padded), text at 120
      if (readable(lun)) {
        std::uint8_t head[8];
        for (std::size_t i = 0; i < 8; ++i) {
          head[i] =
              static_cast<std::uint8_t>(i < lun->description.size() ? lun->description[i] : ' ');
        }
        a.put_bytes(kValue, head, 8);
        a.put_text(kText16, lun->description);
      }
      break;
    case 17:  // Number of LUNs
      if (readable(rn)) a.put32(kValue, static_cast<std::uint32_t>(rn->luns.size()));
      break;
    case 18:  // SCSI Type
      if (readable(rn)) a.put32(kValue, static_cast<std::uint32_t>(rn->scsi_type));
      break;
    case 19:  // SCSI II Number
      if (readable(lun)) a.put32(kValue, lun->number);
      break;
    case 20:  // SCSI III Address
      if (readable(lun)) a.put_wwn(kValue, lun->address);
      break;
    default:
      ok = false;
      break;
  }
  a.put32(16, ok ? kStatusOk : kStatusFailed);
}

// Target-support service ("/pvd/fcp<N>.sif", 0x1E00000A to 0x1E000011).
void answer_target_support(Model& model, std::uint32_t number, Area a, std::uint32_t lxs_status,
                           std::vector<Event>& events) {
  auto pair = [&]() -> std::pair<Adapter*, RemoteNode*> {
    Adapter* node = find_node(model, a.get_wwn(4));
    return {node, find_remote_in(node, a.get_wwn(12))};
  };
  switch (number) {
    case 0x1E00000A:  // LXS_GET_ADAPTER_COUNT
      if (lxs_status == 0) a.put32(4, static_cast<std::uint32_t>(model.adapters.size()));
      a.put32(8, lxs_status);
      break;
    case 0x1E00000B: {  // LXS_GET_ADAPTER_NAME
      const std::uint32_t index = a.get32(4);
      if (lxs_status != 0) {
        a.put32(72, lxs_status);
      } else if (index < model.adapters.size()) {
        a.put_text(8, model.adapters[index].name, 64);
        a.put32(72, kStatusOk);
      } else {
        a.put32(72, kStatusFailed);
      }
      break;
    }
    case 0x1E00000C:  // LXS_GET_FCP_MANUAL_ID
      a.put32(4, static_cast<std::uint32_t>(model.fcp_manual_id));
      a.put32(kSifStatus, kStatusOk);
      break;
    case 0x1E00000D:  // LXS_SET_FCP_MANUAL_ID
      model.fcp_manual_id = static_cast<std::int32_t>(a.get32(4));
      a.put32(kSifStatus, kStatusOk);
      break;
    case 0x1E00000E:    // LXS_GET_REMNODE_TGT_ID
    case 0x1E00000F:    // LXS_SET_REMNODE_TGT_ID
    case 0x1E000010:    // LXS_GET_REMNODE_BLOCKED
    case 0x1E000011: {  // LXS_SET_REMNODE_BLOCKED
      auto [node, rn] = pair();
      a.put32(kSifStatus, rn != nullptr ? kStatusOk : kStatusUnknown);
      if (rn == nullptr) break;
      if (number == 0x1E00000E) a.put32(20, static_cast<std::uint32_t>(rn->target_id));
      if (number == 0x1E00000F) rn->target_id = static_cast<std::int32_t>(a.get32(20));
      if (number == 0x1E000010) a.put32(20, rn->blocked ? 1 : 0);
      if (number == 0x1E000011) set_blocked(*rn, a.get32(20) != 0, node, events);
      break;
    }
    default:
      break;
  }
}

// HPD adapter requests, sent to the adapter's own name; null for a name no
// adapter has, which is answered at once with status 2.
void answer_adapter(const Adapter* adapter, std::uint32_t number, Area a) {
  switch (number) {
    case 0x14000014:  // HPD_LTX_ADAPTER_INFO: every field, whatever the code at 0
      a.put32(kInfoStatus, adapter != nullptr ? kStatusOk : kStatusUnknown);
      if (adapter == nullptr) break;
      a.put32(4, static_cast<std::uint32_t>(adapter->ports.size()));
      a.put_text(8, adapter->bus_name, 64);
      a.put_text(72, adapter->model, kInfoStatus - 72);
      break;
    case 0x14000015:  // HPD_LTX_DUPLEX_STATUS: first byte at 4
      a.put32(kAdapterStatus, adapter != nullptr ? kStatusOk : kStatusUnknown);
      if (adapter != nullptr) a.put32(4, adapter->duplex);
      break;
    case 0x14000016:  // HPD_LTX_ADAPTER_PORTWWN
      if (adapter == nullptr) {
        a.put32(kAdapterStatus, kStatusUnknown);
      } else if (!adapter->port_wwn && adapter->ports.empty()) {
        a.put32(kAdapterStatus, kStatusNotAvailable);
      } else {
        a.put_wwn(4, adapter_port_wwn(*adapter));
        a.put32(kAdapterStatus, kStatusOk);
      }
      break;
    default:
      break;
  }
}

}  // namespace

std::uint32_t response_number(std::uint32_t request) {
  if (request >= 0x15000000u && request <= 0x15FFFFFFu) return request + 1;
  return request | 0x80000000u;
}

Service route(const Model& model, const std::string& destination, int* adapter_index) {
  if (destination == "fcph") return Service::kFcph;
  if (destination == "fcp") return Service::kFcp;
  // "/pvd/fcp0.sif" with its digit replaced by '0' + an adapter index 0 to 7.
  if (destination.size() == 13 && destination.compare(0, 8, "/pvd/fcp") == 0 &&
      destination.compare(9, 4, ".sif") == 0 && destination[8] >= '0' && destination[8] <= '7') {
    return Service::kTargetSupport;
  }
  for (std::size_t i = 0; i < model.adapters.size(); ++i) {
    if (model.adapters[i].name == destination) {
      *adapter_index = static_cast<int>(i);
      return Service::kAdapter;
    }
  }
  // Any other name is taken for an adapter's that no adapter has: its
  // requests are answered at once, with status 2. A misspelt service name
  // reaches no one.
  if (destination.compare(0, 8, "/pvd/fcp") == 0 || destination.starts_with("fcp")) {
    return Service::kNone;
  }
  *adapter_index = -1;
  return Service::kAdapter;
}

void answer_request(Model& model, Service service, int adapter_index, std::uint32_t number,
                    Area data, std::int64_t now_ms, std::uint32_t lxs_status,
                    std::vector<Event>& events) {
  switch (service) {
    case Service::kFcph:
      answer_fcph(model, number, data, now_ms, events);
      break;
    case Service::kFcp:
      if (number == kLxsObjectRequest) answer_lxs_object(model, data, now_ms, lxs_status, events);
      break;
    case Service::kTargetSupport:
      answer_target_support(model, number, data, lxs_status, events);
      break;
    case Service::kAdapter: {
      bool known =
          adapter_index >= 0 && static_cast<std::size_t>(adapter_index) < model.adapters.size();
      answer_adapter(known ? &model.adapters[adapter_index] : nullptr, number, data);
      break;
    }
    case Service::kNone:
      break;
  }
}

int change_link(Model& model, int adapter, int port, bool up, std::int64_t now_ms,
                std::vector<Event>& events) {
  if (adapter < 0 || static_cast<std::size_t>(adapter) >= model.adapters.size()) return -1;
  Adapter& a = model.adapters[adapter];
  if (port < 0 || static_cast<std::size_t>(port) >= a.ports.size()) return -1;
  Port& p = a.ports[port];
  if (up && p.state == 0) return -2;
  if (set_link(p, up, now_ms)) {
    if (up) {
      events.push_back({kSeverityNotice, "Link up on " + port_label(a, port)});
    } else {
      events.push_back({kSeverityWarning, "Link down on " + port_label(a, port)});
    }
  }
  return 0;
}

}  // namespace sim
