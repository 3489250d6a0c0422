// SNMP notifications from driver events: the bridge registers with the
// driver message library as one more program ("TRAP"), and every driver
// event (message 0x0300000B) it receives becomes the Fibre Alliance MIB's
// connUnitEventTrap; after each batch of events the port table is read again
// through stdagent and every port whose state changed is told with
// connUnitPortStatusChange. snmpd forwards them to the trap sinks its
// administrator configured (none configured, none sent).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "snmphost/agent_library.h"

namespace tavro {

// One port of the MIB's port table: its unit identifier, index, WWN and the
// two values connUnitPortStatusChange carries.
struct PortRow {
  std::vector<std::uint32_t> unit;  // 16 sub-identifiers
  std::uint32_t index = 0;
  std::string wwn;  // 16 hexadecimal digits, upper case; empty when not told
  int state = 0, status = 0;
};

class Notifier {
 public:
  // stdagent: the agent whose port table is read; null when not loaded.
  Notifier(const AgentLibrary* stdagent, RequestBudget& budget);
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  // Registers with the message library and with net-snmp's loop; false when
  // the library is missing or refuses.
  bool start();
  // Sends the notifications of the events received so far (net-snmp's
  // thread).
  void flush();

 private:
  struct Event {
    std::uint32_t severity;
    std::string text;
  };
  static void on_message(int kind, void* message);
  void receive(std::uint32_t severity, std::string text);
  std::vector<PortRow> read_ports();
  void send_event(const Event& e, const std::vector<PortRow>& ports);
  void send_port_change(const PortRow& p);

  const AgentLibrary* stdagent_;
  RequestBudget& budget_;
  void* library_ = nullptr;
  void (*free_)(void*) = nullptr;
  void (*deregister_)(std::uint32_t) = nullptr;
  std::uint32_t handle_ = 0;
  int pipe_[2] = {-1, -1};  // the library's thread wakes net-snmp's loop
  std::mutex mu_;
  std::deque<Event> queue_;  // at most kMaxQueued
  long dropped_ = 0;
  std::vector<PortRow> ports_;  // as last read
  std::int32_t next_event_ = 1;
};

}  // namespace tavro
