// GETs of the adapter count through snmpd, the bridge and privagent (and the
// simulated driver), beside GETs of snmpd's own sysUpTime.0, from one
// in-process net-snmp client: the difference is what the AgentX hop, the
// agent and the driver round trip add. Then whole GETNEXT walks of stdagent's
// view (.1.3.6.1.3.94) beside walks of snmpd's own system group, as time per
// object.
//
//   bench_snmp [requests]      (default 5000 of each)
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// (net-snmp's configuration header must come first)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/snmpd_process.h"

namespace {

struct Figures {
  double rate = 0;
  double p50_us = 0;
  double p99_us = 0;
  int failures = 0;
};

class Client {
 public:
  explicit Client(int port) {
    setenv("MIBS", "", 1);
    setenv("MIBDIRS", "/dev/null", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    init_snmp("bench_snmp");
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_2c;
    static char community[] = "public";
    settings.community = reinterpret_cast<u_char*>(community);
    settings.community_len = sizeof community - 1;
    peer_ = "udp:127.0.0.1:" + std::to_string(port);
    settings.peername = peer_.data();
    settings.retries = 0;
    settings.timeout = 20 * 1000000L;
    session_ = snmp_sess_open(&settings);
  }
  ~Client() {
    if (session_ != nullptr) snmp_sess_close(session_);
    snmp_shutdown("bench_snmp");
  }
  bool ok() const { return session_ != nullptr; }

  // One GET; true when it answered a value of the expected type.
  bool get(const std::vector<oid>& name, u_char type) {
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
    snmp_add_null_var(pdu, name.data(), name.size());
    netsnmp_pdu* response = nullptr;
    int status = snmp_sess_synch_response(session_, pdu, &response);
    bool good = status == STAT_SUCCESS && response != nullptr &&
                response->errstat == SNMP_ERR_NOERROR && response->variables != nullptr &&
                response->variables->type == type;
    if (response != nullptr) snmp_free_pdu(response);
    return good;
  }

  // One GETNEXT walk of root; the number of objects, or -1 on a failure.
  int walk(const std::vector<oid>& root) {
    std::vector<oid> name = root;
    for (int objects = 0;; ++objects) {
      netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GETNEXT);
      snmp_add_null_var(pdu, name.data(), name.size());
      netsnmp_pdu* response = nullptr;
      int status = snmp_sess_synch_response(session_, pdu, &response);
      bool good = status == STAT_SUCCESS && response != nullptr &&
                  response->errstat == SNMP_ERR_NOERROR && response->variables != nullptr;
      netsnmp_variable_list* v = good ? response->variables : nullptr;
      bool inside = v != nullptr && v->type != SNMP_ENDOFMIBVIEW && v->name_length > root.size() &&
                    std::equal(root.begin(), root.end(), v->name);
      if (inside) name.assign(v->name, v->name + v->name_length);
      if (response != nullptr) snmp_free_pdu(response);
      if (!good) return -1;
      if (!inside) return objects;
    }
  }

  // walks whole walks of root: microseconds per object, objects per walk.
  Figures walks(const std::vector<oid>& root, int walks, int* objects) {
    Figures f;
    std::vector<double> us;
    auto begin = std::chrono::steady_clock::now();
    for (int k = 0; k < walks; ++k) {
      auto start = std::chrono::steady_clock::now();
      int n = walk(root);
      if (n <= 0) {
        ++f.failures;
        continue;
      }
      *objects = n;
      us.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
              .count() /
          n);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (us.empty()) return f;
    std::sort(us.begin(), us.end());
    f.rate = seconds > 0 ? walks / seconds : 0;
    f.p50_us = us[us.size() / 2];
    f.p99_us = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    return f;
  }

  Figures run(const std::vector<oid>& name, u_char type, int count) {
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(count));
    Figures f;
    auto begin = std::chrono::steady_clock::now();
    for (int k = 0; k < count; ++k) {
      auto start = std::chrono::steady_clock::now();
      if (!get(name, type)) ++f.failures;
      us.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
              .count());
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::sort(us.begin(), us.end());
    f.rate = seconds > 0 ? count / seconds : 0;
    f.p50_us = us[us.size() / 2];
    f.p99_us = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    return f;
  }

 private:
  std::string peer_;
  void* session_ = nullptr;
};

void print(const char* what, const Figures& f) {
  std::printf("%-34s %9.0f requests/s  p50 %8.1f us  p99 %8.1f us  failures %d\n", what, f.rate,
              f.p50_us, f.p99_us, f.failures);
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 5000;
  if (count < 1) count = 1;
  tavro::testing::SnmpdProcess snmpd;
  auto bridge = tavro::testing::start_bridge(snmpd, {"privagent", "stdagent"});
  if (!bridge->running()) {
    std::fprintf(stderr, "the bridge did not start: %s\n", bridge->output().c_str());
    return 1;
  }
  Client client(snmpd.port());
  if (!client.ok()) {
    std::fprintf(stderr, "no SNMP session\n");
    return 1;
  }
  const std::vector<oid> uptime{1, 3, 6, 1, 2, 1, 1, 3, 0};
  const std::vector<oid> adapters{1, 3, 6, 1, 4, 1, 48217, 3, 3, 1, 0};
  client.run(uptime, ASN_TIMETICKS, count / 10 + 1);  // warm up
  client.run(adapters, ASN_INTEGER, count / 10 + 1);
  Figures own = client.run(uptime, ASN_TIMETICKS, count);
  Figures agent = client.run(adapters, ASN_INTEGER, count);
  std::printf("%d sequential GETs each, one client session, snmpd on udp:127.0.0.1:%d\n", count,
              snmpd.port());
  print("snmpd sysUpTime.0", own);
  print("privagent adapter count (AgentX)", agent);
  std::printf("ratio sysUpTime/adapter count: rate %.2f, p50 %.2f, p99 %.2f\n",
              agent.rate > 0 ? own.rate / agent.rate : 0.0,
              own.p50_us > 0 ? agent.p50_us / own.p50_us : 0.0,
              own.p99_us > 0 ? agent.p99_us / own.p99_us : 0.0);

  const std::vector<oid> system{1, 3, 6, 1, 2, 1, 1};
  const std::vector<oid> fibre{1, 3, 6, 1, 3, 94};
  int rounds = count / 50 + 1;
  int system_objects = 0;
  int fibre_objects = 0;
  client.walks(fibre, 1, &fibre_objects);  // warm up
  Figures own_walk = client.walks(system, rounds, &system_objects);
  Figures std_walk = client.walks(fibre, rounds, &fibre_objects);
  std::printf("%d whole GETNEXT walks each (p50/p99 are per object within a walk)\n", rounds);
  std::printf("%-34s %9.1f walks/s     p50 %8.1f us  p99 %8.1f us  failures %d  (%d objects)\n",
              "snmpd system group", own_walk.rate, own_walk.p50_us, own_walk.p99_us,
              own_walk.failures, system_objects);
  std::printf("%-34s %9.1f walks/s     p50 %8.1f us  p99 %8.1f us  failures %d  (%d objects)\n",
              "stdagent .1.3.6.1.3.94 (AgentX)", std_walk.rate, std_walk.p50_us, std_walk.p99_us,
              std_walk.failures, fibre_objects);
  std::printf("ratio per object stdagent/system: p50 %.2f\n",
              own_walk.p50_us > 0 ? std_walk.p50_us / own_walk.p50_us : 0.0);
  bridge->stop();
  return own.failures + agent.failures + own_walk.failures + std_walk.failures == 0 ? 0 : 1;
}
