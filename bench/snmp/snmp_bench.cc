// GETs and whole GETNEXT walks through one private snmpd, from one
// in-process net-snmp client, of four sides: snmpd's own objects, the AgentX
// floor (bench_agentx_floor: a minimal subagent of constants, registered as
// the bridge registers a view), privagent and stdagent (through the bridge
// and the simulated driver). The sides take turns in nine rounds, so a change
// in the machine's load falls on all of them; each side's ratio to the floor
// is the median of the rounds' ratios.
//
//   bench_snmp [requests]      (default 5000 GETs of each side)
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

struct Side {
  const char* name;
  std::vector<oid> get;
  u_char type;
  std::vector<oid> walk;
  std::vector<double> get_us, walk_us;  // p50 of each round
  int failures = 0;
  int objects = 0;
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The median of the rounds' ratios of a side to the floor.
double ratio(const std::vector<double>& side, const std::vector<double>& floor) {
  std::vector<double> ratios;
  for (std::size_t k = 0; k < side.size() && k < floor.size(); ++k) {
    if (floor[k] > 0) ratios.push_back(side[k] / floor[k]);
  }
  return median(ratios);
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 5000;
  if (count < 1) count = 1;
  tavro::testing::SnmpdProcess snmpd;
  auto bridge = tavro::testing::start_bridge(snmpd, {"privagent", "stdagent"});
  tavro::testing::DaemonOptions options;
  options.program = tavro::testing::binary_dir() + "/bench_agentx_floor";
  options.add_port = options.wait_ready = false;
  options.args = {snmpd.agentx()};
  tavro::testing::DaemonProcess floor(options);
  tavro::testing::wait_until(
      [&] { return floor.output().find("registered") != std::string::npos; });
  if (!bridge->running() || !floor.running()) {
    std::fprintf(stderr, "the bridge or the floor did not start: %s%s\n", bridge->output().c_str(),
                 floor.output().c_str());
    return 1;
  }
  Client client(snmpd.port());
  if (!client.ok()) {
    std::fprintf(stderr, "no SNMP session\n");
    return 1;
  }
  std::vector<Side> sides = {
      {"snmpd's own", {1, 3, 6, 1, 2, 1, 1, 3, 0}, ASN_TIMETICKS, {1, 3, 6, 1, 2, 1, 1}},
      {"AgentX floor", {1, 3, 6, 1, 3, 9999, 1, 0}, ASN_INTEGER, {1, 3, 6, 1, 3, 9999}},
      {"privagent",
       {1, 3, 6, 1, 4, 1, 48217, 3, 3, 1, 0},
       ASN_INTEGER,
       {1, 3, 6, 1, 4, 1, 48217, 3}},
      {"stdagent", {1, 3, 6, 1, 3, 94, 1, 1, 0}, ASN_INTEGER, {1, 3, 6, 1, 3, 94}},
  };
  constexpr int kRounds = 9;
  const int gets = count / kRounds + 1;
  const int walks = count / (50 * kRounds) + 1;
  for (Side& side : sides) client.run(side.get, side.type, gets / 10 + 1);  // warm up
  for (int round = 0; round < kRounds; ++round) {
    for (Side& side : sides) {
      Figures get = client.run(side.get, side.type, gets);
      Figures walk = client.walks(side.walk, walks, &side.objects);
      side.get_us.push_back(get.p50_us);
      side.walk_us.push_back(walk.p50_us);
      side.failures += get.failures + walk.failures;
    }
  }
  std::printf(
      "%d rounds of %d GETs and %d whole GETNEXT walks of each side, snmpd on udp:127.0.0.1:%d\n",
      kRounds, gets, walks, snmpd.port());
  std::printf("%-14s %12s %10s %16s %10s %8s %9s\n", "side", "GET p50 us", "/floor",
              "walk us/object", "/floor", "objects", "failures");
  const Side& base = sides[1];
  int failures = 0;
  for (const Side& side : sides) {
    std::printf("%-14s %12.1f %10.2f %16.1f %10.2f %8d %9d\n", side.name, median(side.get_us),
                ratio(side.get_us, base.get_us), median(side.walk_us),
                ratio(side.walk_us, base.walk_us), side.objects, side.failures);
    failures += side.failures;
  }
  std::printf("goal: privagent and stdagent within 1.20 of the floor\n");
  bridge->stop();
  return failures == 0 ? 0 : 1;
}
