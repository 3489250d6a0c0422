#include "snmphost/query_handler.h"

#include <vector>

#include "agents/frame/varbind_text.h"
#include "snmphost/agent_library.h"

namespace tavro {
namespace {

using Requests = std::vector<netsnmp_request_info*>;

// The extension-agent binding list of some requests; it frees what the
// agent left in it.
class Bindings {
 public:
  Bindings(const Requests& requests, std::size_t first, bool with_values)
      : list_(requests.size() - first) {
    for (std::size_t k = 0; k < list_.size(); ++k) {
      const netsnmp_variable_list* vb = requests[first + k]->requestvb;
      std::vector<std::uint32_t> ids(vb->name, vb->name + vb->name_length);
      snmp_oid name{static_cast<std::uint32_t>(ids.size()), ids.data()};
      SnmpUtilOidCpy(&list_[k].name, &name);
      list_[k].value.asnType = snmp::kNull;
      if (with_values) take_value(*vb, k);
    }
    raw_ = {list_.data(), static_cast<std::uint32_t>(list_.size())};
  }
  ~Bindings() {
    for (auto& b : list_) {
      SnmpUtilOidFree(&b.name);
      free_value(b.value);
    }
  }
  Bindings(const Bindings&) = delete;
  Bindings& operator=(const Bindings&) = delete;

  snmp_varbind_list& raw() { return raw_; }
  std::size_t size() const { return list_.size(); }
  const snmp_varbind& operator[](std::size_t k) const { return list_[k]; }

 private:
  // The manager's value, as the agent reads it; the bytes stay the request's.
  void take_value(const netsnmp_variable_list& vb, std::size_t k) {
    snmp_value& v = list_[k].value;
    v.asnType = vb.type;
    switch (vb.type) {
      case ASN_INTEGER:
        v.asnValue.number = static_cast<std::int32_t>(*vb.val.integer);
        break;
      case ASN_COUNTER:
      case ASN_GAUGE:
      case ASN_TIMETICKS:
        v.asnValue.unsigned32 = static_cast<std::uint32_t>(*vb.val.integer);
        break;
      case ASN_OCTET_STR:
      case ASN_IPADDRESS:
      case ASN_OPAQUE:
        v.asnValue.string = {vb.val.string, static_cast<std::uint32_t>(vb.val_len), 0};
        break;
      case ASN_OBJECT_ID: {
        std::vector<std::uint32_t> ids(vb.val.objid, vb.val.objid + vb.val_len / sizeof(oid));
        snmp_oid value{static_cast<std::uint32_t>(ids.size()), ids.data()};
        SnmpUtilOidCpy(&v.asnValue.object, &value);
        break;
      }
      default:
        v.asnType = snmp::kNull;
        break;
    }
  }

  std::vector<snmp_varbind> list_;
  snmp_varbind_list raw_{};
};

void put_value(netsnmp_variable_list* vb, const snmp_value& v) {
  switch (v.asnType) {
    case snmp::kInteger:
      snmp_set_var_typed_integer(vb, ASN_INTEGER, v.asnValue.number);
      break;
    case snmp::kCounter:
    case snmp::kGauge:
    case snmp::kTimeTicks:
      snmp_set_var_typed_integer(vb, v.asnType, v.asnValue.unsigned32);
      break;
    case snmp::kOctetString:
    case snmp::kIpAddress:
    case snmp::kOpaque:
      snmp_set_var_typed_value(vb, v.asnType, v.asnValue.string.stream, v.asnValue.string.length);
      break;
    case snmp::kObjectIdentifier: {
      std::vector<oid> ids(v.asnValue.object.ids,
                           v.asnValue.object.ids + v.asnValue.object.idLength);
      snmp_set_var_typed_value(vb, ASN_OBJECT_ID, ids.data(), ids.size() * sizeof(oid));
      break;
    }
    default:
      break;
  }
}

Requests pending(netsnmp_request_info* requests) {
  Requests list;
  for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
    if (!r->processed) list.push_back(r);
  }
  return list;
}

// The request an error status names; the first one when the index is out of range.
std::size_t failed_at(std::int32_t index, std::size_t count) {
  return index >= 1 && static_cast<std::size_t>(index) <= count
             ? static_cast<std::size_t>(index) - 1
             : 0;
}

void fail_all(const Requests& requests, std::size_t first) {
  if (first < requests.size()) netsnmp_request_set_error(requests[first], SNMP_ERR_GENERR);
}

// A GET stops at the agent's first failing binding; a binding it does not
// know becomes noSuchObject and the rest are asked again.
void serve_get(const AgentLibrary& agent, const Requests& requests) {
  std::size_t first = 0;
  while (first < requests.size()) {
    Bindings b(requests, first, false);
    std::int32_t status = 0, index = 0;
    if (!agent.query(snmp::kGet, b.raw(), status, index)) return fail_all(requests, first);
    std::size_t stop = status == 0 ? b.size() : failed_at(index, b.size());
    for (std::size_t k = 0; k < stop; ++k) put_value(requests[first + k]->requestvb, b[k].value);
    if (status == 0) return;
    if (status != snmp::kNoSuchName) {
      netsnmp_request_set_error(requests[first + stop], SNMP_ERR_GENERR);
      return;
    }
    bool object = b[stop].value.asnType == snmp::kNoSuchInstance;
    netsnmp_request_set_error(requests[first + stop],
                              object ? SNMP_NOSUCHINSTANCE : SNMP_NOSUCHOBJECT);
    first += stop + 1;
  }
}

// An answer is passed on only when it lies inside the view and after the
// request; otherwise the request stays unanswered, which tells snmpd that
// this view holds nothing more and the walk goes on in the next one.
void serve_getnext(const AgentLibrary& agent, const netsnmp_handler_registration& view,
                   const Requests& requests) {
  Bindings b(requests, 0, false);
  std::int32_t status = 0, index = 0;
  if (!agent.query(snmp::kGetNext, b.raw(), status, index)) return fail_all(requests, 0);
  std::size_t stop = status == 0 ? b.size() : failed_at(index, b.size());
  for (std::size_t k = 0; k < stop; ++k) {
    netsnmp_variable_list* vb = requests[k]->requestvb;
    std::vector<oid> name(b[k].name.ids, b[k].name.ids + b[k].name.idLength);
    bool inside =
        netsnmp_oid_is_subtree(view.rootoid, view.rootoid_len, name.data(), name.size()) == 0;
    bool after = snmp_oid_compare(name.data(), name.size(), vb->name, vb->name_length) > 0;
    if (!inside || !after || b[k].value.asnType == snmp::kNull) continue;
    snmp_set_var_objid(vb, name.data(), name.size());
    put_value(vb, b[k].value);
  }
  if (status != 0) netsnmp_request_set_error(requests[stop], SNMP_ERR_GENERR);
}

// A write of an instance that does not exist cannot create it; the wrong
// type, length or value of a write is named as the agent found it.
int set_error(std::int32_t status, const snmp_value& value) {
  switch (status) {
    case snmp::kNoSuchName:
      return value.asnType == snmp::kNoSuchInstance ? SNMP_ERR_NOCREATION : SNMP_ERR_NOTWRITABLE;
    case snmp::kWrongType:
      return SNMP_ERR_WRONGTYPE;
    case snmp::kWrongLength:
      return SNMP_ERR_WRONGLENGTH;
    case snmp::kWrongValue:
      return SNMP_ERR_WRONGVALUE;
    default:
      return SNMP_ERR_GENERR;
  }
}

// The write is made in the first phase of a SET: an error there reaches the
// manager as the agent gave it, while a failure in a later phase would come
// back as commitFailed. The agent writes in one call and cannot undo, so the
// later phases have nothing to do. A phase snmpd sends again after its
// time-out gets the first answer and writes nothing.
void serve_set(AgentLibrary& agent, const netsnmp_agent_request_info& info,
               const Requests& requests) {
  if (requests.empty()) return;
  AgentLibrary::WriteKey key;
  if (info.asp != nullptr && info.asp->pdu != nullptr) {
    key = {info.asp->pdu->sessid, info.asp->pdu->transid, info.asp->pdu->reqid};
  }
  int error = SNMP_ERR_NOERROR;
  std::size_t at = 0;
  if (!agent.repeats_last_write(key, error)) {
    Bindings b(requests, 0, true);
    std::int32_t status = 0, index = 0;
    if (!agent.query(snmp::kSet, b.raw(), status, index)) status = snmp::kGenErr;
    at = failed_at(index, b.size());
    if (status != 0) error = set_error(status, b[at].value);
    agent.note_write(key, error);
  }
  if (error != SNMP_ERR_NOERROR) netsnmp_request_set_error(requests[at], error);
}

}  // namespace

int query_handler(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
                  netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
  auto& agent = *static_cast<AgentLibrary*>(handler->myvoid);
  Requests list = pending(requests);
  switch (info->mode) {
    case MODE_GET:
      serve_get(agent, list);
      break;
    case MODE_GETNEXT:
      serve_getnext(agent, *registration, list);
      break;
    case MODE_SET_RESERVE1:
      serve_set(agent, *info, list);
      break;
    default:
      break;
  }
  return SNMP_ERR_NOERROR;
}

}  // namespace tavro
