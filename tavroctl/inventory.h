// The adapters, ports and remote ports of a host as the daemon shows them:
// the driver's objects through FCGET, and what the HBA API adds (port type,
// fabric, adapter versions, statistics, remote port states) through HBAAPI.
// A value the daemon does not answer stays empty ("unknown"), never made up.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sysfs/fpin.h"
#include "tavroctl/client.h"

namespace tavroctl {

// Asks the daemon and remembers the first failure of the connection or the
// command itself (cannot connect, disabled, no reply, a reply of the wrong
// shape); an error reply for one object only leaves that object unknown.
class Session {
 public:
  explicit Session(const Client& client) : client_(client) {}

  // The value, when the daemon answers it in the shape asked for.
  std::optional<std::string> agent(std::string_view suffix, const Shape& shape = {});
  // The same for an object the command cannot do without: an error reply
  // fails the session too.
  std::optional<std::string> required(std::string_view suffix, const Shape& shape);
  std::optional<std::string> hbaapi(std::string_view text, const Shape& shape = {});
  // Objects that do not depend on each other, asked all at once; each as agent().
  std::vector<std::optional<std::string>> agents(
      const std::vector<std::pair<std::string, Shape>>& objects);
  // Fails the session unless value fits; names the request and the value.
  bool check(const std::string& request, std::string_view value, bool fits,
             const std::string& expected);

  const Client& client() const { return client_; }
  const Reply& failure() const { return failure_; }
  bool failed() const { return !failure_.ok(); }

 private:
  std::optional<std::string> keep(Reply reply, const Shape& shape, bool error_fails);

  const Client& client_;
  Reply failure_;
};

// Fields of the HBA API structures, numbered as the daemon renders them.
namespace hba {
inline constexpr std::size_t kAdapterFields = 13, kPortFields = 15, kStatsFields = 15;
enum Adapter {
  kSerial = 1,
  kModel = 2,
  kNodeWwn = 4,
  kDriverVersion = 7,
  kFirmware = 9,
  kPorts = 11
};
enum Port { kPortWwn = 1, kFcId = 2, kType = 3, kState = 4, kFabric = 13, kDiscovered = 14 };
}  // namespace hba

struct RemotePort {
  std::string wwn, fc_address;
  std::string state;  // HBA API port state code, seen from the local port named in via
  std::string via;    // local port WWN
};

struct RemoteNode {
  std::string wwn, type, target_id, blocked;  // type: the FC-4 roles, as bits
  std::optional<unsigned> lun_count;
  std::vector<std::string> luns;
  std::vector<RemotePort> ports;
};

struct Port {
  int adapter = 0, index = 0;
  std::string wwn;
  std::optional<std::string> state, link, speed, fc_address;
  std::vector<std::string> hba;                      // port attributes, hba::kPortFields or none
  std::vector<std::string> hba_stats;                // statistics, hba::kStatsFields or none
  std::vector<std::vector<std::string>> discovered;  // remote ports' attributes
  std::vector<std::optional<std::string>> counters;  // the driver's, by kCounters rows
  sysfs::FpinCounts fpin;                            // this host's kernel, when it has the port
  std::map<std::string, sysfs::FpinCounts> remote_fpin;  // by remote port WWN
  std::string id() const { return std::to_string(adapter) + ":" + std::to_string(index); }
  std::string hba_field(std::size_t field) const { return field < hba.size() ? hba[field] : ""; }
};

struct Adapter {
  int index = 0;
  std::string name, node_wwn;
  std::optional<std::string> model, bus_slot;
  std::vector<std::string> hba;  // adapter attributes, hba::kAdapterFields or none
  std::vector<Port> ports;
  std::vector<RemoteNode> remotes;
  std::string hba_field(std::size_t field) const { return field < hba.size() ? hba[field] : ""; }
};

// One port counter: the driver's object (suffix) or an HBA API statistics
// field (1-based), its name in tables and JSON, and its metric.
struct CounterRow {
  const char* key;
  const char* suffix;  // agent object, the port WWN follows; null for HBA API
  const char* after;   // instance components after the WWN
  int hba_field;
  const char* metric;
  const char* help;
};
extern const CounterRow kCounters[];

struct Want {
  bool details = true, hba = true, stats = false, remotes = false;
  bool bus_slot = true, lun_numbers = true;  // with details, with remotes
};

// Everything asked for; the adapter list is empty when even the count failed
// (see the session's failure).
std::vector<Adapter> gather(Session& session, Want want);

// The WWN of a port named by WWN or "adapter:port" (index or adapter name
// before the colon, port index after it).
std::optional<std::string> resolve_port(Session& session, std::string_view port_text);

// Names of HBA API codes, "" when unknown.
std::string port_type_name(std::string_view code);
std::string port_state_name(std::string_view code);
// The roles of a remote node by its type bits, e.g. "FCP Target, FCP Initiator".
std::string role_names(std::string_view type);

}  // namespace tavroctl
