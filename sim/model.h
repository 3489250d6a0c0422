// The simulated host: its adapters, their ports, the remote nodes seen through
// each port and the faults to inject. Built from JSON (sim/README.md gives the
// format); every request of the catalogue reads or changes this model.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/wire.h"

namespace sim {

// Port traffic counters, in this order everywhere (JSON keys in kCounterNames).
enum Counter : int {
  kTxSeqs,
  kRxSeqs,
  kTxBytes,
  kRxBytes,
  kTxErrors,
  kRxErrors,
  kTxDiscards,
  kRxDiscards,
  kCounterCount
};
inline constexpr const char* kCounterNames[kCounterCount] = {
    "tx_seqs",   "rx_seqs",   "tx_bytes",    "rx_bytes",
    "tx_errors", "rx_errors", "tx_discards", "rx_discards"};

struct Lun {
  std::uint32_t number = 0;  // SCSI II number (LXS object 19)
  Wwn address{};             // SCSI III address (LXS object 20)
  std::string description;   // LXS object 16
};

struct RemotePort {
  Wwn wwn{};
  std::uint32_t fc_address = 0;
};

struct RemoteNode {
  Wwn wwn{};
  std::uint32_t type = 0;       // FCPH_GET_REMOTE_NODE_TYPE: role bits, 1 FCP target
  std::uint32_t class_bit = 3;  // FCPH_GET_REMOTE_NODE_CLASS: the class number n (shown as 1 << n)
  std::int32_t target_id = 0;   // LXS_G/SET_REMNODE_TGT_ID, LXS object 14
  bool blocked = false;         // LXS_G/SET_REMNODE_BLOCKED, LXS object 15
  std::int32_t service_class = 3;  // LXS object 13
  std::int32_t scsi_type = 0;      // LXS object 18
  std::vector<RemotePort> ports;
  std::vector<Lun> luns;  // LXS object 17 is their number
};

struct Port {
  Wwn wwn{};
  Wwn factory_wwn{};
  std::uint32_t speed = 2;
  std::uint32_t state = 1;  // 0 = port disabled (link held down)
  std::string vendor, revision, serial_number, description, version;
  std::uint32_t topology = 1;
  std::uint32_t user_topology = 0;
  std::uint32_t class_bit = 3;  // FCPH_GET_SUPPORTED_CLASSES: the class number n
  std::uint32_t phys_type = 2;
  std::uint32_t connector_type = 3;
  bool link_up = true;
  std::uint32_t link_transitions = 0;
  std::uint32_t fc_address = 0;
  std::array<std::uint64_t, kCounterCount> counters{};  // values at load time
  std::array<double, kCounterCount> rates{};            // growth per second of link-up time
  std::int64_t up_ms = 0;                               // link-up time accumulated before up_since
  std::int64_t up_since_ms = 0;                         // model time the link last came up
  std::vector<RemoteNode> remote_nodes;
};

struct Adapter {
  std::string name;
  std::string bus_name;
  std::string model;
  std::uint32_t duplex = 1;
  Wwn node_wwn{};
  std::optional<Wwn> port_wwn;    // HPD_LTX_ADAPTER_PORTWWN; default: the first port's WWN
  std::string node_name;          // LXS object 2
  std::string class_preferences;  // LXS object 4
  std::vector<Port> ports;
};

// Faults for one request message number.
struct MessageFault {
  int delay_ms = 0;
  bool no_answer = false;
  std::uint32_t wrong_number = 0;  // 0 none, 1 the response number + 2, else this number
  bool wrong_object = false;
  std::uint32_t lxs_status = 0;    // 2 to 5
  std::uint32_t driver_error = 0;  // reported (kind 86) when the request arrives
  bool caller_thread = false;      // answered inside q_send_msg_by_name, on its caller's thread
  bool twice = false;              // the answer is delivered twice
  bool late = false;  // one answer is held until the next request of this number arrives
  bool empty() const {
    return delay_ms == 0 && !no_answer && wrong_number == 0 && !wrong_object && lxs_status == 0 &&
           driver_error == 0 && !caller_thread && !twice && !late;
  }
};

// Index of each q_ function for the crash fault.
enum Function : int {
  kMsgInit,
  kRegister,
  kDeregister,
  kMsgAlloc,
  kSendByName,
  kMsgFree,
  kMsgDone,
  kFunctionCount
};
inline constexpr const char* kFunctionNames[kFunctionCount] = {
    "q_msg_init",  "q_register_msg_handler", "q_deregister_msg_handler",
    "q_msg_alloc", "q_send_msg_by_name",     "q_msg_free",
    "q_msg_done"};
int function_index(const std::string& name);  // -1 when unknown

struct Faults {
  std::map<std::uint32_t, MessageFault> messages;
  std::uint32_t driver_error_on_register = 0;
  std::array<int, kFunctionCount> crash{};  // signal number, 0 = none
  int alloc_fail = 0;
  int refuse_register = 0;
};

struct Model {
  std::vector<Adapter> adapters;
  std::int32_t fcp_manual_id = 0;
};

// Parses a model (and its "faults" section) from JSON text. On failure returns
// false and sets error to a message naming the offending field; model and
// faults are then untouched. now_ms is the model time the links came up.
bool parse_model(const std::string& json_text, std::int64_t now_ms, Model& model, Faults& faults,
                 std::string& error);

// The embedded default model: two adapters with one port each.
const char* default_model_json();

// Current value of a port counter (grows with link-up time).
std::uint64_t counter_value(const Port& port, Counter counter, std::int64_t now_ms);
// Link up or down at model time now_ms; true when the state changed.
bool set_link(Port& port, bool up, std::int64_t now_ms);

}  // namespace sim
