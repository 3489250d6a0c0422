#include "snmphost/notifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>

#include "agents/frame/varbind_text.h"
#include "platform/module_loader.h"
#include "snmphost/event_notice.h"
#include "snmphost/query_handler.h"
// After net-snmp's headers, which query_handler.h brings in order.
#include <net-snmp/agent/agent_trap.h>

namespace tavro {
namespace {

using Ids = std::vector<std::uint32_t>;

constexpr std::uint32_t kDriverEvent = 0x0300000B;
constexpr std::size_t kTextMax = 248;
constexpr std::size_t kMaxQueued = 256;
constexpr std::uint32_t kTag = 0x54524150;  // "TRAP"
constexpr std::size_t kMaxPorts = 256;

// FCMGMT-MIB, below .1.3.6.1.3.94.
const Ids kEventTrap = {1, 3, 6, 1, 3, 94, 0, 4};         // connUnitEventTrap
const Ids kPortStatusChange = {1, 3, 6, 1, 3, 94, 0, 6};  // connUnitPortStatusChange
const Ids kPortState = {1, 3, 6, 1, 3, 94, 1, 10, 1, 6};
const Ids kPortStatus = {1, 3, 6, 1, 3, 94, 1, 10, 1, 7};
const Ids kPortWwn = {1, 3, 6, 1, 3, 94, 1, 10, 1, 10};
const Ids kEventId = {1, 3, 6, 1, 3, 94, 1, 11, 1, 3};
const Ids kEventSeverity = {1, 3, 6, 1, 3, 94, 1, 11, 1, 6};
const Ids kEventType = {1, 3, 6, 1, 3, 94, 1, 11, 1, 7};
const Ids kEventObject = {1, 3, 6, 1, 3, 94, 1, 11, 1, 8};
const Ids kEventDescr = {1, 3, 6, 1, 3, 94, 1, 11, 1, 9};
const Ids kZeroDotZero = {0, 0};
const Ids kSnmpTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};

// The library's handler has no argument of its own: the one notifier.
std::atomic<Notifier*> g_notifier{nullptr};

Ids operator+(Ids a, const Ids& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool starts_with(const Ids& name, const Ids& prefix) {
  return name.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), name.begin());
}

// One binding asked of an agent: the name it answered and the value.
struct Answer {
  Ids name;
  std::uint8_t type = 0;
  long number = 0;
  std::string bytes;
};

bool ask(const AgentLibrary& agent, std::uint8_t type, const Ids& name, Answer& out) {
  Ids ids = name;
  snmp_oid asked{static_cast<std::uint32_t>(ids.size()), ids.data()};
  snmp_varbind vb{};
  if (!SnmpUtilOidCpy(&vb.name, &asked)) return false;
  vb.value.asnType = snmp::kNull;
  snmp_varbind_list list{&vb, 1};
  std::int32_t status = 0, index = 0;
  const bool ok = agent.query(type, list, status, index) && status == snmp::kNoError;
  if (ok) {
    out.name.assign(vb.name.ids, vb.name.ids + vb.name.idLength);
    out.type = vb.value.asnType;
    if (out.type == snmp::kInteger) out.number = vb.value.asnValue.number;
    if (out.type == snmp::kOctetString)
      out.bytes.assign(reinterpret_cast<const char*>(vb.value.asnValue.string.stream),
                       vb.value.asnValue.string.length);
  }
  free_value(vb.value);
  SnmpUtilOidFree(&vb.name);
  return ok;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char pair[3];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", c);
    out += pair;
  }
  return out;
}

void add(netsnmp_variable_list** vars, const Ids& name, u_char type, const void* value,
         std::size_t length) {
  std::vector<oid> ids(name.begin(), name.end());
  snmp_varlist_add_variable(vars, ids.data(), ids.size(), type, static_cast<const u_char*>(value),
                            length);
}
void add_integer(netsnmp_variable_list** vars, const Ids& name, long value) {
  add(vars, name, ASN_INTEGER, &value, sizeof value);
}
void add_oid(netsnmp_variable_list** vars, const Ids& name, const Ids& value) {
  std::vector<oid> ids(value.begin(), value.end());
  add(vars, name, ASN_OBJECT_ID, ids.data(), ids.size() * sizeof(oid));
}

void send(netsnmp_variable_list* vars) {
  send_v2trap(vars);
  snmp_free_varbind(vars);
}

void on_readable(int, void* notifier) {
  static_cast<Notifier*>(notifier)->flush();
}

// The port an event's text names ("... port 21000024FF3A5B10: ..."), first in
// rows, then in more.
const PortRow* named_port(const std::string& text, const std::vector<PortRow>& rows,
                          const std::vector<PortRow>& more) {
  for (const auto* list : {&rows, &more}) {
    for (const PortRow& p : *list) {
      if (!p.wwn.empty() && text.find("port " + p.wwn) != std::string::npos) return &p;
    }
  }
  return nullptr;
}

}  // namespace

Notifier::Notifier(const AgentLibrary* stdagent, RequestBudget& budget)
    : stdagent_(stdagent), budget_(budget) {}

Notifier::~Notifier() {
  if (handle_ != 0) {
    deregister_(handle_);  // no delivery after it returns
    g_notifier = nullptr;
  }
  if (pipe_[0] >= 0) {
    unregister_readfd(pipe_[0]);
    close(pipe_[0]);
    close(pipe_[1]);
  }
  if (library_) platform::unload_module(library_);
}

bool Notifier::start() {
  int error = 0;
  library_ = platform::load_module("QFCMsgLib", &error);
  if (!library_) return false;
  auto init =
      reinterpret_cast<unsigned char (*)()>(platform::module_symbol(library_, "q_msg_init"));
  auto reg = reinterpret_cast<int (*)(std::uint32_t, const char*, int, void (*)(int, void*))>(
      platform::module_symbol(library_, "q_register_msg_handler"));
  deregister_ = reinterpret_cast<void (*)(std::uint32_t)>(
      platform::module_symbol(library_, "q_deregister_msg_handler"));
  free_ = reinterpret_cast<void (*)(void*)>(platform::module_symbol(library_, "q_msg_free"));
  if (!init || !reg || !deregister_ || !free_ || g_notifier || pipe2(pipe_, O_CLOEXEC | O_NONBLOCK))
    return false;
  budget_.quiet();
  if (stdagent_) ports_ = read_ports();
  register_readfd(pipe_[0], on_readable, this);
  g_notifier = this;
  const std::uint32_t handle =
      (static_cast<std::uint32_t>(getpid()) & 0xFFFF) | (kTag & 0xFFFF0000);
  if (!init() || reg(handle, "TRAP", 0, on_message) != 1) {
    g_notifier = nullptr;
    return false;
  }
  handle_ = handle;
  return true;
}

// The library's delivery thread: keep the event, wake the loop, free the message.
void Notifier::on_message(int kind, void* message) {
  if (kind == 86 || message == nullptr) return;  // a driver error: no message
  Notifier* self = g_notifier;
  std::uint32_t number;
  const std::uint8_t* data;
  std::memcpy(&number, static_cast<const char*>(message) + 80, 4);
  std::memcpy(&data, static_cast<const char*>(message) + 84, sizeof data);
  if (self && number == kDriverEvent && data) {
    std::uint32_t severity;
    std::memcpy(&severity, data, 4);
    const char* text = reinterpret_cast<const char*>(data + 8);
    self->receive(severity, std::string(text, strnlen(text, kTextMax)));
  }
  if (self) self->free_(message);
}

void Notifier::receive(std::uint32_t severity, std::string text) {
  {
    std::lock_guard lock(mu_);
    if (queue_.size() >= kMaxQueued) {
      ++dropped_;
    } else {
      queue_.push_back({severity, std::move(text)});
    }
  }
  const char one = 1;
  [[maybe_unused]] ssize_t n = write(pipe_[1], &one, 1);  // full: a wake-up is pending anyway
}

void Notifier::flush() {
  char drain[64];
  while (read(pipe_[0], drain, sizeof drain) > 0) {
  }
  std::deque<Event> events;
  long dropped;
  {
    std::lock_guard lock(mu_);
    events.swap(queue_);
    dropped = std::exchange(dropped_, 0);
  }
  if (events.empty() && dropped == 0) return;
  if (dropped > 0)
    events.push_back({611, std::to_string(dropped) + " driver events not sent as notifications"});
  budget_.quiet();
  std::vector<PortRow> now = stdagent_ ? read_ports() : std::vector<PortRow>{};
  for (const Event& e : events) send_event(e, now);
  for (const PortRow& p : now) {
    for (const PortRow& old : ports_) {
      if (old.unit == p.unit && old.index == p.index &&
          (old.state != p.state || old.status != p.status))
        send_port_change(p);
    }
  }
  ports_ = std::move(now);
}

// The walk of connUnitPortState, then each port's status and WWN.
std::vector<PortRow> Notifier::read_ports() {
  std::vector<PortRow> rows;
  Ids name = kPortState;
  Answer a;
  while (rows.size() < kMaxPorts && ask(*stdagent_, snmp::kGetNext, name, a) &&
         starts_with(a.name, kPortState) && a.name.size() == kPortState.size() + 17) {
    PortRow p;
    p.unit.assign(a.name.begin() + kPortState.size(), a.name.end() - 1);
    p.index = a.name.back();
    p.state = static_cast<int>(a.number);
    const Ids instance = p.unit + Ids{p.index};
    Answer b;
    if (ask(*stdagent_, snmp::kGet, kPortStatus + instance, b))
      p.status = static_cast<int>(b.number);
    if (ask(*stdagent_, snmp::kGet, kPortWwn + instance, b) && b.bytes.size() == 8)
      p.wwn = hex(b.bytes);
    rows.push_back(std::move(p));
    name = a.name;
  }
  return rows;
}

void Notifier::send_event(const Event& e, const std::vector<PortRow>& ports) {
  const PortRow* port = named_port(e.text, ports_, ports);
  const Ids unit = port ? port->unit : Ids(16, 0);
  const Ids instance = unit + Ids{static_cast<std::uint32_t>(next_event_)};
  netsnmp_variable_list* vars = nullptr;
  add_oid(&vars, kSnmpTrapOid, kEventTrap);
  add_integer(&vars, kEventId + instance, next_event_);
  add_integer(&vars, kEventType + instance, fc_event_type(e.text));
  add_oid(&vars, kEventObject + instance,
          port ? kPortState + port->unit + Ids{port->index} : kZeroDotZero);
  add(&vars, kEventDescr + instance, ASN_OCTET_STR, e.text.data(), e.text.size());
  add_integer(&vars, kEventSeverity + instance, fc_event_severity(e.severity));
  send(vars);
  next_event_ = next_event_ == 0x7FFFFFFF ? 1 : next_event_ + 1;
}

void Notifier::send_port_change(const PortRow& p) {
  const Ids instance = p.unit + Ids{p.index};
  netsnmp_variable_list* vars = nullptr;
  add_oid(&vars, kSnmpTrapOid, kPortStatusChange);
  add_integer(&vars, kPortStatus + instance, p.status);
  add_integer(&vars, kPortState + instance, p.state);
  send(vars);
}

}  // namespace tavro
