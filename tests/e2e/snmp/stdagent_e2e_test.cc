// What a monitoring system sees of stdagent: the Fibre Alliance MIB walked
// and read through a private snmpd, the bridge and the simulated driver.
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

const std::string kFa = ".1.3.6.1.3.94.";

// A unit identifier in a name: fifteen 0 and the adapter number.
std::string unit(int n) {
  return "0.0.0.0.0.0.0.0.0.0.0.0.0.0.0." + std::to_string(n);
}
std::string unit_bytes(int n) {
  char last[8];
  std::snprintf(last, sizeof last, "%02X", n);
  return "Hex-STRING: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 " + std::string(last);
}
std::string hex(const std::string& digits) {
  std::string out = "Hex-STRING:";
  for (std::size_t k = 0; k + 1 < digits.size(); k += 2) out += " " + digits.substr(k, 2);
  return out;
}

struct Adapter {
  std::string name, node_wwn, port_wwn;
};

struct Port {
  std::string topology, state, connector, phys, fc_address, serial, revision, speed;
  std::vector<std::string> counters;  // 4.5.1.3 to 4.5.1.7, "" where they grow
};

// The walk of the view, line by line, as Part of the MIB the agent serves.
std::vector<std::string> expected_walk(const std::vector<Adapter>& adapters, const Port& port) {
  std::vector<std::string> lines;
  auto add = [&](const std::string& suffix, const std::string& value) {
    lines.push_back(kFa + suffix + " = " + value);
  };
  add("1.1.0", "INTEGER: " + std::to_string(adapters.size()));
  const std::vector<std::pair<std::string, std::string>> unit_columns = {
      {"1.6.1.1", ""}, {"1.6.1.2", ""}, {"1.6.1.3", "INTEGER: 7"}, {"1.6.1.4", "INTEGER: 1"}};
  for (const auto& [column, value] : unit_columns) {
    for (std::size_t k = 0; k < adapters.size(); ++k) {
      int n = static_cast<int>(k + 1);
      std::string v = column == "1.6.1.1"   ? unit_bytes(n)
                      : column == "1.6.1.2" ? hex(adapters[k].port_wwn)
                                            : value;
      add(column + "." + unit(n), v);
    }
  }
  if (adapters.empty()) {
    add("3.0", "STRING: \"0300\"");
    return lines;
  }
  const Adapter& a = adapters[0];
  const std::string port1 = "." + unit(1) + ".1";
  const std::vector<std::pair<std::string, std::string>> port_columns = {
      {"1", hex(a.port_wwn)},
      {"3", "INTEGER: " + port.topology},
      {"4", "Hex-STRING: 00 08"},
      {"5", "Hex-STRING: 00 08"},
      {"6", "INTEGER: " + port.state},
      {"7", "INTEGER: 1"},
      {"8", "INTEGER: " + port.connector},
      {"9", "INTEGER: " + port.phys},
      {"10", hex(a.port_wwn)},
      {"11", hex(port.fc_address)},
      {"12", "STRING: \"" + port.serial + "\""},
      {"13", "STRING: \"" + port.revision + "\""},
      {"14", "STRING: \"Quellstone Corporation\""},
      {"15", "INTEGER: " + port.speed},
      {"16", "INTEGER: 2"},
      {"17", "STRING: \"" + a.name + "\""},
      {"18", "INTEGER: 0"},
      {"20", "Hex-STRING: 00 07"},
      {"21", "Hex-STRING: 00 07"},
      {"22", hex(a.node_wwn)},
      {"23", "INTEGER: 1"},
  };
  for (const auto& [column, value] : port_columns) add("1.10.1." + column + port1, value);
  add("3.0", "STRING: \"0300\"");
  add("4.5.1.1" + port1, unit_bytes(1));
  add("4.5.1.2" + port1, "INTEGER: 1");
  for (int k = 3; k <= 7; ++k) add("4.5.1." + std::to_string(k) + port1, port.counters[k - 3]);
  return lines;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    // Long octet strings go on over further lines.
    if (!lines.empty() && line.rfind(".", 0) != 0) {
      lines.back() += " " + line;
    } else {
      lines.push_back(line);
    }
  }
  for (std::string& line : lines) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    for (auto at = line.find("  "); at != std::string::npos; at = line.find("  ")) {
      line.erase(at, 1);
    }
  }
  return lines;
}

const std::vector<Adapter> kDefaultAdapters = {
    {"/pvd/pci2/dev5/fcp0", "200000E08B010203", "210000E08B010203"},
    {"/pvd/pci3/dev1/fcp1", "200000E08B040506", "210000E08B040506"},
};
const Port kDefaultPort{
    "7", "2", "6", "5", "010200", "QS10020345", "3.03", "25000", {"", "", "", "", ""}};

std::string adapter_json(int k) {
  char wwn[17];
  std::snprintf(wwn, sizeof wwn, "20000000000000%02d", k);
  std::string port = "21" + std::string(wwn + 2);
  return R"({"name":"/pvd/pci)" + std::to_string(k) + R"(/dev1/fcp)" + std::to_string(k) +
         R"(","node_wwn":")" + wwn + R"(","ports":[{"wwn":")" + port +
         R"(","speed":3,"state":0,"topology":2,"connector_type":1,"phys_type":3,)"
         R"("fc_address":"0x0A0B0C","serial_number":"S1","revision":"R2",)"
         R"("counters":{"tx_seqs":5,"rx_seqs":6,"tx_bytes":305419896,"rx_bytes":7,)"
         R"("tx_errors":3,"rx_errors":4}}]})";
}
std::string model_of(int adapters) {
  std::string json = R"({"adapters":[)";
  for (int k = 1; k <= adapters; ++k) json += (k > 1 ? "," : "") + adapter_json(k);
  return json + "]}";
}
// What the model of adapter_json serves: speed 3 has no rate (1), a
// disabled port is offline (3) and its link down (FC address 0).
const Port kFixedPort{"5",
                      "3",
                      "1",
                      "4",
                      "000000",
                      "S1",
                      "R2",
                      "1",
                      {"Hex-STRING: 00 00 00 00 00 00 00 07", "Hex-STRING: 00 00 00 00 00 00 00 05",
                       "Hex-STRING: 00 00 00 00 00 00 00 06", "Hex-STRING: 00 00 00 00 12 34 56 78",
                       "Hex-STRING: 00 00 00 00 00 00 00 07"}};
std::vector<Adapter> fixed_adapters(int n) {
  std::vector<Adapter> list;
  for (int k = 1; k <= n; ++k) {
    char wwn[17];
    std::snprintf(wwn, sizeof wwn, "20000000000000%02d", k);
    list.push_back({"/pvd/pci" + std::to_string(k) + "/dev1/fcp" + std::to_string(k), wwn,
                    "21" + std::string(wwn + 2)});
  }
  return list;
}

class StdAgentE2e : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(snmp_tools_present()) << "scripts/deps installs snmpd"; }
  void TearDown() override {
    if (bridge_ == nullptr || !bridge_->running()) return;
    EXPECT_EQ(bridge_->stop(15), 0) << bridge_->output();
    EXPECT_EQ(bridge_->output().find("Sanitizer"), std::string::npos) << bridge_->output();
  }
  void start(const std::string& model = "", const std::vector<std::string>& agents = {"stdagent"}) {
    std::vector<std::pair<std::string, std::string>> env;
    if (!model.empty()) {
      std::string path = snmpd_.dir() + "/model.json";
      write_file(path, model);
      env.emplace_back("TAVRO_SIM_MODEL", path);
    }
    bridge_ = start_bridge(snmpd_, agents, env);
    ASSERT_TRUE(bridge_->running()) << bridge_->output();
  }
  std::string run(const std::string& tool, const std::string& name) {
    ClientResult r = snmp_client(tool, snmpd_, {name});
    EXPECT_EQ(r.output.find("Timeout"), std::string::npos) << r.output;
    return r.output;
  }

  SnmpdProcess snmpd_;
  std::unique_ptr<DaemonProcess> bridge_;
};

TEST_F(StdAgentE2e, WalkOfTheDefaultModelMatchesRowForRow) {
  start();
  std::vector<std::string> want = expected_walk(kDefaultAdapters, kDefaultPort);
  std::vector<std::string> plain = lines_of(run("snmpwalk", ".1.3.6.1.3.94"));
  std::vector<std::string> bulk = lines_of(run("snmpbulkwalk", ".1.3.6.1.3.94"));
  for (const auto* got : {&plain, &bulk}) {
    ASSERT_EQ(got->size(), want.size()) << run("snmpwalk", ".1.3.6.1.3.94");
    for (std::size_t k = 0; k < want.size(); ++k) {
      if (want[k].back() == ' ') {  // a counter that grows: 8 bytes, the upper 4 zero
        EXPECT_EQ((*got)[k].rfind(want[k] + "Hex-STRING: 00 00 00 00 ", 0), 0u) << (*got)[k];
      } else {
        EXPECT_EQ((*got)[k], want[k]);
      }
    }
  }
}

struct ModelRow {
  const char* name;
  int adapters;
};

void PrintTo(const ModelRow& row, std::ostream* out) {
  *out << row.name;
}

class ModelWalk : public StdAgentE2e, public ::testing::WithParamInterface<ModelRow> {};

TEST_P(ModelWalk, PlainAndBulkWalkGiveTheModelsValues) {
  start(model_of(GetParam().adapters));
  std::vector<std::string> want = expected_walk(fixed_adapters(GetParam().adapters), kFixedPort);
  EXPECT_EQ(lines_of(run("snmpwalk", ".1.3.6.1.3.94")), want);
  EXPECT_EQ(lines_of(run("snmpbulkwalk", ".1.3.6.1.3.94")), want);
}

INSTANTIATE_TEST_SUITE_P(Models, ModelWalk,
                         ::testing::Values(ModelRow{"NoAdapter", 0}, ModelRow{"OneAdapter", 1},
                                           ModelRow{"EightAdapters", 8}),
                         [](const auto& row) { return std::string(row.param.name); });

struct StepRow {
  const char* name;
  std::string from;
  std::string to;  // the name answered; "" for past the view
};

const StepRow kStepRows[] = {
    {"FromTheViewRoot", ".1.3.6.1.3.94", kFa + "1.1.0"},
    {"FromBeforeTheView", ".1.3.6.1.3.90", kFa + "1.1.0"},
    {"LastUnitToNextColumn", kFa + "1.6.1.1." + unit(2), kFa + "1.6.1.2." + unit(1)},
    {"PastTheUnservedColumn", kFa + "1.10.1.18." + unit(1) + ".1",
     kFa + "1.10.1.20." + unit(1) + ".1"},
    {"NoSuchObjectToPortTable", kFa + "1.7", kFa + "1.10.1.1." + unit(1) + ".1"},
    {"UnservedUnitColumnToPortTable", kFa + "1.6.1.5." + unit(1),
     kFa + "1.10.1.1." + unit(1) + ".1"},
    {"UnitSubIdentifierAboveAByte", kFa + "1.6.1.1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.257",
     kFa + "1.6.1.2." + unit(1)},
    {"UnitZeroToUnitOne", kFa + "1.6.1.3." + unit(0), kFa + "1.6.1.3." + unit(1)},
    {"LastInstanceIsPastTheView", kFa + "4.5.1.7." + unit(1) + ".1", ""},
};

void PrintTo(const StepRow& row, std::ostream* out) {
  *out << row.name;
}

class WalkStep : public StdAgentE2e, public ::testing::WithParamInterface<StepRow> {};

TEST_P(WalkStep, GetNextAnswersTheNextInstance) {
  start();
  std::string out = run("snmpgetnext", GetParam().from);
  if (GetParam().to.empty()) {
    EXPECT_EQ(out.find(".1.3.6.1.3.94."), std::string::npos) << out;
  } else {
    EXPECT_EQ(out.rfind(GetParam().to + " = ", 0), 0u) << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, WalkStep, ::testing::ValuesIn(kStepRows),
                         [](const auto& row) { return std::string(row.param.name); });

struct GetRow {
  const char* name;
  std::string oid;
  std::string answer;  // found in the output after the name
};

const std::string kNoSuchObject = "= No Such Object available on this agent at this OID";

const GetRow kGetRows[] = {
    {"RevisionText", kFa + "3.0", "= STRING: \"0300\""},
    {"MakerForSecondUnit", kFa + "1.10.1.14." + unit(2) + ".1",
     "= STRING: \"Quellstone Corporation\""},
    {"SecondUnitsStatistics", kFa + "4.5.1.1." + unit(2) + ".1", "= " + unit_bytes(2)},
    {"SecondUnitsSerialFromItsAdapter", kFa + "1.10.1.12." + unit(2) + ".1",
     "= STRING: \"QS10020346\""},
    {"SecondUnitsNodeWwn", kFa + "1.10.1.22." + unit(2) + ".1", "= " + hex("200000E08B040506")},
    {"UnitZero", kFa + "1.6.1.2." + unit(0), kNoSuchObject},
    {"UnitAboveTheCount", kFa + "1.10.1.15." + unit(3) + ".1", kNoSuchObject},
    {"ScalarWithInstance", kFa + "2.1.0." + unit(1), kNoSuchObject},
};

TEST_F(StdAgentE2e, GetAnswersEachObject) {
  start();
  for (const GetRow& row : kGetRows) {
    std::string out = run("snmpget", row.oid);
    EXPECT_NE(out.find(row.oid + " " + row.answer), std::string::npos) << row.name << "\n" << out;
  }
}

TEST_F(StdAgentE2e, NotServedObjectIsGenErrAtItsBinding) {
  start();
  std::string failing = kFa + "1.6.1.5." + unit(1);
  ClientResult r = snmp_client("snmpget", snmpd_, {kFa + "3.0", failing});
  EXPECT_NE(r.output.find("(genError)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Failed object: " + failing), std::string::npos) << r.output;
}

TEST_F(StdAgentE2e, EverySetIsRefused) {
  start();
  for (const std::string& oid : {kFa + "1.10.1.17." + unit(1) + ".1", kFa + "3.0"}) {
    ClientResult r = snmp_client("snmpset", snmpd_, {oid, "s", "x"}, "private");
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("notWritable"), std::string::npos) << r.output;
  }
}

TEST_F(StdAgentE2e, BothAgentsInOneBridgeAnswerInTurn) {
  start("", {"privagent", "stdagent"});
  std::string step1 = run("snmpgetnext", kFa + "1.6.1.1." + unit(1));
  EXPECT_EQ(step1.rfind(kFa + "1.6.1.1." + unit(2) + " = ", 0), 0u) << step1;
  std::string priv = run("snmpget", ".1.3.6.1.4.1.48217.3.3.1.0");
  EXPECT_NE(priv.find("= INTEGER: 2"), std::string::npos) << priv;
  std::string step2 = run("snmpgetnext", kFa + "1.6.1.1." + unit(2));
  EXPECT_EQ(step2.rfind(kFa + "1.6.1.2." + unit(1) + " = ", 0), 0u) << step2;
}

}  // namespace
}  // namespace tavro::testing
