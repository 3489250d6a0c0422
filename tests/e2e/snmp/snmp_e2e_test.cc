// What a network manager sees of privagent and a monitoring system of stdagent
// (the Fibre Alliance MIB): snmpget, snmpset, snmpwalk against a private snmpd
// with the bridge as its AgentX subagent and the simulated driver; the private
// MIB module as net-snmp reads it; and what Prometheus scrapes through the
// real prometheus-snmp-exporter with packaging/prometheus/snmp.yml.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "objects/handlers.h"
#include "objects/oid_table.h"
#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

const std::string kPrivate = ".1.3.6.1.4.1.48217.3.";
const std::string kPort0 = "33.0.0.224.139.1.2.3";  // 21:00:00:E0:8B:01:02:03
const std::string kCount = kPrivate + "3.1.0";
const std::string kNoSuchObject = "= No Such Object available on this agent at this OID";
const std::string kNoSuchInstance = "= No Such Instance currently exists at this OID";
// An adapter name discovery does not know, as its length and characters.
const std::string kUnknownAdapter = "4.47.120.121.122";  // "/xyz"

std::string one_adapter_model(const std::string& faults) {
  return R"({"adapters":[{"name":"/pvd/pci2/dev5/fcp0","node_wwn":"200000E08B010203",)"
         R"("ports":[{"wwn":"210000E08B010203"}]}],"faults":{"messages":[)" +
         faults + "]}}";
}

class PrivAgentE2e : public BridgeTest {
 protected:
  void start(const std::string& model = "", Env env = {}) {
    BridgeTest::start({"privagent"}, model, std::move(env));
  }
  ClientResult get(const std::vector<std::string>& names) { return client("snmpget", names); }
  ClientResult set(const std::vector<std::string>& args) {
    return client("snmpset", args, "private");
  }
};

const Vars kVars = {{"P", kPrivate},
                    {"PORT0", kPort0},
                    {"NO_OBJECT", kNoSuchObject},
                    {"NO_INSTANCE", kNoSuchInstance},
                    {"GENERR", kGenErrAt},
                    {"NL", "\n"}};

TEST_F(PrivAgentE2e, GetWalkAndSetAnswerAsTheMibSays) {
  BridgeTest::start({"privagent", "stdagent"});
  const auto rows = read_rows("e2e/snmp/privagent_get.txt", kVars);
  std::vector<std::string> names;
  for (const auto& row : rows) names.push_back(row.at(0));
  ClientResult r = get(names);
  EXPECT_EQ(r.status, 0) << r.output;
  for (const auto& row : rows) {
    EXPECT_NE(r.output.find(row.at(0) + " " + row.at(1)), std::string::npos) << r.output;
  }
  for (const auto& step : read_rows("e2e/snmp/privagent_steps.txt", kVars)) {
    std::vector<std::string> args;
    std::istringstream words(step.at(1));
    for (std::string word; words >> word;) args.push_back(word);
    r = step.at(0) == "set" ? set(args) : get(args);
    if (step.at(2) != "-") {
      EXPECT_EQ(r.status == 0, step.at(2) == "ok") << step.at(1);
    }
    const std::string& want = step.at(3);
    EXPECT_TRUE(want.starts_with('^') ? r.output.starts_with(want.substr(1))
                                      : r.output.find(want) != std::string::npos)
        << step.at(1) << "\n"
        << r.output;
  }
}

// A WWN with a byte 255, a dual-port card with a remote node and a second
// adapter: the walk lists every served name, ports in order, the remote node's
// rows, and GETNEXT from anywhere answers the next of them; a WWN one past the
// second port's or the remote node's is no instance.
TEST_F(PrivAgentE2e, WalkListsEveryAdapterPortAndNodeAndGetNextSkipsNothing) {
  start(test_data("e2e/snmp/privagent_walk_model.json"));
  std::vector<std::string> names;
  std::istringstream walk(client("snmpwalk", {".1.3.6.1.4.1.48217.3"}).output);
  for (std::string line; std::getline(walk, line);) {
    if (line.rfind(kPrivate, 0) == 0) names.push_back(line.substr(0, line.find(' ')));
  }
  const std::string port = "33.255.0.224.139.1.2.255", node = "32.255.0.224.139.1.2.255";
  const Vars vars = {
      {"PORT", port},
      {"NODE", node},
      {"REMOTE", node + ".80.255.1.96.0.1.2.255"},
      {"FCP1", "19.47.112.118.100.47.112.99.105.51.47.100.101.118.49.47.102.99.112.49"},
      {"NO_INSTANCE", kNoSuchInstance}};
  for (const auto& row : read_rows("e2e/snmp/privagent_walk.txt", vars)) {
    const std::string name = kPrivate + row.at(1);
    if (row.at(0) == "listed") {
      EXPECT_TRUE(std::find(names.begin(), names.end(), name) != names.end()) << name;
    } else {
      std::string out = get({name}).output;
      EXPECT_NE(out.find(name + " " + row.at(2)), std::string::npos) << out;
    }
  }
  auto first_at = std::find(names.begin(), names.end(), kPrivate + "3.7.1.2." + port);
  EXPECT_LT(first_at,
            std::find(names.begin(), names.end(), kPrivate + "3.7.1.2.34.1.160.224.139.12.13.14"));
  sweep_getnext(names, ".1.3.6.1.4.1.48217.3");
}

// Managers that ask more of a slow driver than snmpd waits for get genErr
// for what is left; snmpd keeps the session, so no served name ever answers
// "No Such Object". A port of an adapter discovery does not know answers at once.
TEST_F(PrivAgentE2e, SlowDriverAndManyManagersNeverTakeTheTreeAway) {
  BridgeTest::start({"privagent", "stdagent"},
                    one_adapter_model(R"({"message":"0x15000016","delay_ms":2500})"));
  std::vector<std::future<ClientResult>> answers;
  for (int k = 0; k < 10; ++k) {
    std::string name = k < 7 ? "3.5.1.3." + kPort0 : "3.4.1.2." + kUnknownAdapter + ".0";
    answers.push_back(std::async(std::launch::async, [=, this] { return get({kPrivate + name}); }));
  }
  for (int k = 0; k < 10; ++k) {
    std::string out = answers[k].get().output;
    bool value = out.find("Gauge32: 2") != std::string::npos;
    std::string want = k >= 7 ? kNoSuchInstance : value ? "Gauge32: 2" : "genError";
    EXPECT_NE(out.find(want), std::string::npos) << out;
  }
  EXPECT_NE(get({kCount}).output.find("INTEGER: 1"), std::string::npos);
  EXPECT_NE(client("snmpget", {".1.3.6.1.3.94.3.0"}).output.find("0300"), std::string::npos);
}

// The manager sees one answer; and the agent is free again before snmpd's
// own time-out: the next request is answered by it, not given up by snmpd.
TEST_F(PrivAgentE2e, SlowOrSilentOrMissingDriverGivesOneAnswer) {
  // A fault on 0x1E00000A, the adapter count; or no model: a model file that
  // does not exist (a model given comes later and wins).
  for (const auto& [fault, answer] :
       {std::pair<std::string, std::string>{R"("delay_ms":4000)", "= INTEGER: 1"},
        {R"("no_answer":true)", "(genError)"},
        {"", "(genError)"}}) {
    SCOPED_TRACE(fault);
    start(fault.empty() ? "" : one_adapter_model(R"({"message":"0x1E00000A",)" + fault + "}"),
          {{"TAVRO_SIM_MODEL", snmpd_.dir() + "/missing.json"}});
    ClientResult r = get({kCount});
    EXPECT_NE(r.output.find(answer), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Timeout"), std::string::npos) << r.output;
    // Without a driver a walk of the whole host passes the private tree.
    if (fault.empty()) {
      EXPECT_EQ(client("snmpwalk", {".1.3.6.1.4.1"}).status, 0);
    } else {
      ClientResult next = get({kPrivate + "2.14.0"});
      EXPECT_NE(next.output.find("= Gauge32: "), std::string::npos) << next.output;
    }
    stop_bridge();
  }
}

TEST_F(PrivAgentE2e, WriteSentAgainBySnmpdIsNotAppliedTwice) {
  // snmpd gives up on the bridge after one second and sends the write again.
  snmpd_ = SnmpdProcess({"agentXTimeout 1", "agentXRetries 1"});
  std::string events = snmpd_.dir() + "/events.log";
  write_file(events, "");
  start(one_adapter_model(R"({"message":"0x1500001A","delay_ms":1500})"),
        {{"TAVRO_SNMP_EVENT_LOG", events}});
  set({kPrivate + "3.5.1.5." + kPort0, "i", "0"});
  // Answered after the repeated write has been handled.
  EXPECT_NE(get({kPrivate + "2.14.0"}).output.find("Gauge32"), std::string::npos);
  std::string log = read_file(events), sent = "pq_send_msg_by_name(\"fcph\",,0x1500001A,)";
  EXPECT_NE(log.find(sent), std::string::npos) << log;
  EXPECT_EQ(log.find(sent), log.rfind(sent)) << log;
}

// The bridge tells whether snmpd has its views, each time that changes, and
// ends when an agent is not found.
TEST_F(PrivAgentE2e, BridgeSaysWhetherItReachedSnmpd) {
  snmpd_.stop();
  bridge_ = start_bridge(snmpd_, {"privagent"});
  const std::string missing = "tavro-snmpd-bridge: cannot reach snmpd at " + snmpd_.agentx();
  EXPECT_EQ(bridge_->output().rfind(missing + "; trying again every 1 s\n", 0), 0u)
      << bridge_->output();
  snmpd_.start();
  auto says = [&](const std::string& text) {
    wait_until([&] { return bridge_->output().find(text) != std::string::npos; });
    return bridge_->output().find(text) != std::string::npos;
  };
  EXPECT_TRUE(says("privagent: registered .1.3.6.1.4.1.48217.3\n")) << bridge_->output();
  EXPECT_NE(get({kCount}).output.find("INTEGER: 2"), std::string::npos);
  snmpd_.stop();
  EXPECT_TRUE(says("tavro-snmpd-bridge: lost snmpd at " + snmpd_.agentx())) << bridge_->output();
  snmpd_.start();
  // An agent that is not found ends the bridge.
  auto bridge = start_bridge(snmpd_, {"privagent", "noagent"});
  EXPECT_EQ(bridge->wait_exit(), 1);
  EXPECT_NE(bridge->output().find("agent noagent not found (libnoagent.so)"), std::string::npos)
      << bridge->output();
}

// The debug log is written only when it exists; the bridge comes back when
// snmpd restarts, and SIGTERM closes its channel.
TEST_F(PrivAgentE2e, DebugLogOnlyWhenItExistsReconnectionAndSigtermClosingTheChannel) {
  std::string log = snmpd_.dir() + "/qsnmpdbg.log";
  start("", {{"TAVRO_SNMP_DEBUG_LOG", log}});
  EXPECT_NE(get({kCount}).output.find("INTEGER: 2"), std::string::npos);
  EXPECT_NE(::access(log.c_str(), F_OK), 0) << "the log is never created";
  write_file(log, "");
  snmpd_.restart();
  std::string last;
  wait_until([&] { return (last = get({kCount}).output).find("INTEGER: 2") != std::string::npos; });
  EXPECT_NE(last.find("INTEGER: 2"), std::string::npos) << last;
  EXPECT_EQ(bridge_->stop(15), 0) << bridge_->output();
  std::string text = read_file(log);
  for (const char* line :
       {"SnmpExtensionQuery: requestType = 160\n", "ResolveVarBind: VarBind->name.idLength = 11\n",
        "snmpget() 3 p = \n\n", "snmpget() 4 p = 2\n\n",
        "leaving SnmpExtensionQuery: *errorStatus = 0, errorIndex = 0\n",
        "snmp_close: calling q_deregister_msg_handler\n\n", "snmp_close: done.\n\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
}

const std::string kFa = ".1.3.6.1.3.94.";

// The lines of the output, without the blank after a last hex byte.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  }
  return lines;
}

class StdAgentE2e : public BridgeTest {};

// The walks give the model's values row for row: stdagent_walk_N.txt on
// stdagent_model_N.json, whose N adapters' ports have fixed values (speed 3
// has no rate (1), a disabled port is offline (3) and its link down, FC
// address 0), stdagent_walk_linux.txt on the Linux driver library over the
// dual-port card's sysfs tree, and stdagent_walk_default.txt on the simulator's
// own model, where "*" stands for a counter that grows. On the simulator's own
// model also GET (stdagent_get.txt), GETNEXT from any name, and SET answer as
// the MIB says.
TEST_F(StdAgentE2e, WalkGetGetNextAndSetAnswerAsTheMibSays) {
  std::string events = snmpd_.dir() + "/events.log";
  write_file(events, "");
  for (std::string n : {"0", "1", "8", "linux", "default"}) {
    SCOPED_TRACE(n);
    const bool fixed = n != "default";
    Env env = {{"TAVRO_SNMP_EVENT_LOG", events}};
    if (n == "linux") {
      env.insert(env.end(), {{"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"},
                             {"TAVRO_SYSFS_ROOT", TAVRO_FIXTURES "/dual_port"}});
    }
    start({"stdagent"},
          fixed && n != "linux" ? test_data("e2e/snmp/stdagent_model_" + n + ".json") : "", env);
    std::vector<std::string> want = lines_of(test_data("e2e/snmp/stdagent_walk_" + n + ".txt"));
    for (const char* tool : {"snmpwalk", "snmpbulkwalk"}) {
      std::vector<std::string> got = lines_of(client(tool, {".1.3.6.1.3.94"}).output);
      ASSERT_EQ(got.size(), want.size()) << tool << ::testing::PrintToString(got);
      for (std::size_t k = 0; k < want.size(); ++k) {
        if (want[k].back() == '*') {  // 8 bytes, the upper 4 zero
          std::string head = want[k].substr(0, want[k].size() - 1);
          EXPECT_EQ(got[k].rfind(head + "Hex-STRING: 00 00 00 00 ", 0), 0u) << got[k];
        } else {
          EXPECT_EQ(got[k], want[k]) << tool;
        }
      }
    }
    if (fixed) {
      stop_bridge();
      continue;
    }
    const Vars vars = {{"NO_INSTANCE", kNoSuchInstance}};
    for (const auto& row : read_rows("e2e/snmp/stdagent_get.txt", vars)) {
      std::string out = client("snmpget", {row.at(0)}).output;
      std::string line =
          row.at(1) == "genErr" ? kGenErrAt + row.at(0) : row.at(0) + " " + row.at(1);
      EXPECT_EQ(out.rfind(line, 0), 0u) << out;
    }
    EXPECT_NE(read_file(events).find("FCPH_GET_PORT_SPEED_CNF: port_speed = 25000"),
              std::string::npos);
    const std::string unit1 = "0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1";
    ClientResult r = client("snmpset", {kFa + "1.10.1.17." + unit1 + ".1", "s", "x"}, "private");
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("notWritable"), std::string::npos) << r.output;
    // GETNEXT of any name answers the first served name after it.
    std::vector<std::string> names;
    for (const std::string& line : want) names.push_back(line.substr(0, line.find(' ')));
    sweep_getnext(names, ".1.3.6.1.3.94");
  }
}

// Every object of TAVRO-PRIVATE-MIB resolves by name with snmptranslate, to
// an object the agent serves, with the SNMP type and access the agent gives it;
// and every object the agent serves has a name.
constexpr char kAgent[] = ".1.3.6.1.4.1.48217.3.";

struct MibObject {
  std::string syntax;
  std::string access;
};

// The module's objects by name, without tables and rows.
std::map<std::string, MibObject> mib_objects() {
  std::string text = read_file(std::string(TAVRO_MIB_DIR) + "/TAVRO-PRIVATE-MIB.txt");
  std::regex object(R"((\w+) OBJECT-TYPE\s+SYNTAX\s+(\w+)[^\n]*\s+MAX-ACCESS\s+([\w-]+))");
  std::map<std::string, MibObject> objects;
  for (std::sregex_iterator it(text.begin(), text.end(), object), end; it != end; ++it) {
    std::string syntax = (*it)[2];
    if (syntax == "SEQUENCE" || std::regex_match(syntax, std::regex("[A-Z]\\w*Entry"))) continue;
    objects[(*it)[1]] = {syntax, (*it)[3]};
  }
  return objects;
}

// Runs snmptranslate -On over the names with only the module and the
// stand-in to read; returns the numeric OIDs in order, or fails on any
// complaint.
std::vector<std::string> translate(const std::map<std::string, MibObject>& objects) {
  std::string dir = make_temp_dir();
  // Debian's net-snmp comes without the IETF modules; SNMPv2-SMI.txt has the
  // few definitions the module takes from that one.
  write_file(dir + "/SNMPv2-SMI.txt", test_data("e2e/snmp/SNMPv2-SMI.txt"));
  std::filesystem::create_directory(dir + "/cert_indexes");  // else net-snmp says it made it
  std::string command = "env -i PATH=/usr/bin:/bin HOME=" + dir + " SNMPCONFPATH=" + dir +
                        " SNMP_PERSISTENT_DIR=" + dir + " MIBDIRS=" + dir +
                        ":" TAVRO_MIB_DIR " MIBS=TAVRO-PRIVATE-MIB snmptranslate -On";
  for (const auto& [name, object] : objects) command += " TAVRO-PRIVATE-MIB::" + name;
  ClientResult result = run_command(command + " 2>" + dir + "/errors");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(dir + "/errors"), "");
  std::vector<std::string> oids;
  std::istringstream lines(result.output);
  for (std::string oid; std::getline(lines, oid);) {
    if (!oid.empty()) oids.push_back(oid);
  }
  return oids;
}

// The SNMP type the agent gives a value type code.
std::string snmp_syntax(int type) {
  return type == 1 || type == 6 ? "Integer32" : type == 2 || type == 7 ? "Gauge32" : "OCTET";
}

const oid_entry* find_row(const oid_entry* table, const std::string& suffix) {
  for (const oid_entry* row = table; row->oid != nullptr; ++row) {
    if (suffix == row->oid && row->handler != qdn_not_supported) return row;
  }
  return nullptr;
}

TEST(Mib, EveryObjectResolvesToAServedObject) {
  std::map<std::string, MibObject> objects = mib_objects();
  ASSERT_GT(objects.size(), 100u);
  std::vector<std::string> oids = translate(objects);
  ASSERT_EQ(oids.size(), objects.size());
  std::set<std::string> named;
  auto oid = oids.begin();
  for (const auto& [name, object] : objects) {
    SCOPED_TRACE(name + " " + *oid);
    ASSERT_EQ(oid->rfind(kAgent, 0), 0u);
    std::string suffix = oid++->substr(sizeof kAgent - 1);
    if (object.access == "not-accessible") continue;  // an index
    // A scalar's row carries the instance 0.
    if (find_row(oid_get_table, suffix + ".0") || find_row(oid_set_table, suffix + ".0")) {
      suffix += ".0";
    }
    named.insert(suffix);
    const oid_entry* read = find_row(oid_get_table, suffix);
    const oid_entry* write = find_row(oid_set_table, suffix);
    EXPECT_EQ(write != nullptr, object.access == "read-write");
    const oid_entry* row = read != nullptr ? read : write;
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(snmp_syntax(row->type), object.syntax);
  }
  for (const oid_entry* table : {oid_get_table, oid_set_table}) {
    for (const oid_entry* row = table; row->oid != nullptr; ++row) {
      bool served = find_row(oid_get_table, row->oid) || find_row(oid_set_table, row->oid);
      EXPECT_EQ(named.count(row->oid), served ? 1u : 0u) << row->oid;
    }
  }
}

constexpr const char* kExporter = "/usr/bin/prometheus-snmp-exporter";

// Port k of prometheus_model.json, the first of unit k: its labels.
std::string labels(int k) {
  char unit[40];
  std::snprintf(unit, sizeof unit, "0x%032X", k);
  return "{adapter=\"/pvd/pci" + std::to_string(k) + "/dev1/fcp" + std::to_string(k) +
         "\",port=\"1\",unit=\"" + unit + "\",wwn=\"0x21000000000000A" + std::to_string(k) + "\"} ";
}

class PrometheusE2e : public BridgeTest {
 protected:
  void SetUp() override {
    if (::access(kExporter, X_OK) != 0) {
      GTEST_SKIP() << kExporter << " is not installed (scripts/deps --test installs "
                   << "prometheus-snmp-exporter)";
    }
    BridgeTest::SetUp();
    start({"privagent", "stdagent"}, test_data("e2e/snmp/prometheus_model.json"));
    DaemonOptions options;
    options.program = kExporter;
    options.add_port = false;
    options.port = free_port();
    options.args = {"--config.file=" TAVRO_SNMP_MODULE,
                    "--web.listen-address=127.0.0.1:" + std::to_string(options.port)};
    exporter_ = std::make_unique<DaemonProcess>(options);
    ASSERT_TRUE(exporter_->running()) << exporter_->output();
  }
  std::string scrape() {
    std::string reply =
        request(exporter_->port(), "GET /snmp?target=127.0.0.1:" + std::to_string(snmpd_.port()) +
                                       "&module=fc_adapters HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.0 200", 0), 0u) << reply;
    return reply;
  }
  // The value of the sample named by line (metric and labels), or -1.
  static double value_of(const std::string& scraped, const std::string& line) {
    auto at = scraped.find("\n" + line);
    return at == std::string::npos ? -1
                                   : std::strtod(scraped.c_str() + at + 1 + line.size(), nullptr);
  }

  std::unique_ptr<DaemonProcess> exporter_;
};

TEST_F(PrometheusE2e, ScrapeShowsEveryPortAndALinkGoingDown) {
  std::string scraped = scrape();
  const Vars vars = {{"L1", labels(1)}, {"L2", labels(2)}, {"L3", labels(3)}};
  for (const auto& row : read_rows("e2e/snmp/scrape_lines.txt", vars)) {
    EXPECT_NE(scraped.find("\n" + row.at(0) + "\n"), std::string::npos) << "missing: " << row.at(0);
  }
  if (HasFailure()) ADD_FAILURE() << scraped;
  // Port state 0 through privagent takes the second port's link down.
  const std::string received = "fc_port_rx_bytes_total" + labels(1);
  double before = value_of(scraped, received);
  EXPECT_GT(before, 0) << scraped;
  ClientResult set =
      client("snmpset", {".1.3.6.1.4.1.48217.3.3.5.1.5.33.0.0.0.0.0.0.162", "i", "0"}, "private");
  ASSERT_EQ(set.status, 0) << set.output;
  std::string again = scrape();
  EXPECT_NE(again.find("\nfc_port_state" + labels(2) + "3\n"), std::string::npos) << again;
  // The scrapes are some milliseconds apart, at 100000 bytes a second.
  EXPECT_GT(value_of(again, received), before) << again;
}

}  // namespace
}  // namespace tavro::testing
