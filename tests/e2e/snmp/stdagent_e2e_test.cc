// What a monitoring system sees of stdagent: the Fibre Alliance MIB walked
// and read through a private snmpd, the bridge and the simulated driver.
#include <gtest/gtest.h>

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
std::string hex(const std::string& digits) {
  std::string out = "Hex-STRING:";
  for (std::size_t k = 0; k + 1 < digits.size(); k += 2) out += " " + digits.substr(k, 2);
  return out;
}
std::string unit_bytes(int n) {
  char digits[40];
  std::snprintf(digits, sizeof digits, "%032X", n);
  return hex(digits);
}

struct Adapter {
  std::string name, node_wwn, port_wwn;
};

struct Port {
  std::string topology, state, connector, phys, fc_address, serial, revision, speed;
  std::vector<std::string> counters;  // 4.5.1.3 to 4.5.1.7, "" where they grow
};

// The walk of the view, line by line: every unit's ports.
std::vector<std::string> expected_walk(const std::vector<Adapter>& adapters,
                                       const std::vector<Port>& ports) {
  std::vector<std::string> lines;
  auto add = [&](const std::string& suffix, const std::string& value) {
    lines.push_back(kFa + suffix + " = " + value);
  };
  const int units = static_cast<int>(adapters.size());
  add("1.1.0", "INTEGER: " + std::to_string(units));
  for (int column = 1; column <= 4; ++column) {
    for (int n = 1; n <= units; ++n) {
      const std::string values[] = {unit_bytes(n), hex(adapters[n - 1].port_wwn), "INTEGER: 7",
                                    "INTEGER: 1"};
      add("1.6.1." + std::to_string(column) + "." + unit(n), values[column - 1]);
    }
  }
  auto column_values = [&](int n) {
    const Adapter& a = adapters[n - 1];
    const Port& port = ports[n - 1];
    return std::vector<std::pair<int, std::string>>{
        {1, hex(a.port_wwn)},
        {3, "INTEGER: " + port.topology},
        {4, "Hex-STRING: 00 08"},
        {5, "Hex-STRING: 00 08"},
        {6, "INTEGER: " + port.state},
        {7, "INTEGER: 1"},
        {8, "INTEGER: " + port.connector},
        {9, "INTEGER: " + port.phys},
        {10, hex(a.port_wwn)},
        {11, hex(port.fc_address)},
        {12, "STRING: \"" + port.serial + "\""},
        {13, "STRING: \"" + port.revision + "\""},
        {14, "STRING: \"Quellstone Corporation\""},
        {15, "INTEGER: " + port.speed},
        {16, "INTEGER: 2"},
        {17, "STRING: \"" + a.name + "\""},
        {18, "INTEGER: 0"},
        {20, "Hex-STRING: 00 07"},
        {21, "Hex-STRING: 00 07"},
        {22, hex(a.node_wwn)},
        {23, "INTEGER: 1"},
    };
  };
  for (std::size_t k = 0; units > 0 && k < column_values(1).size(); ++k) {
    for (int n = 1; n <= units; ++n) {
      auto [column, value] = column_values(n)[k];
      add("1.10.1." + std::to_string(column) + "." + unit(n) + ".1", value);
    }
  }
  add("3.0", "STRING: \"0300\"");
  for (int k = 1; k <= 7; ++k) {
    for (int n = 1; n <= units; ++n) {
      std::string value = k == 1   ? unit_bytes(n)
                          : k == 2 ? "INTEGER: 1"
                                   : ports[n - 1].counters[k - 3];
      add("4.5.1." + std::to_string(k) + "." + unit(n) + ".1", value);
    }
  }
  return lines;
}

// The lines of the output, without the blank after a last hex byte.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  }
  return lines;
}

const std::vector<Adapter> kDefaultAdapters = {
    {"/pvd/pci2/dev5/fcp0", "200000E08B010203", "210000E08B010203"},
    {"/pvd/pci3/dev1/fcp1", "200000E08B040506", "210000E08B040506"},
};
const std::vector<Port> kDefaultPorts{
    {"7", "2", "6", "5", "010200", "QS10020345", "3.03", "25000", {"", "", "", "", ""}},
    {"7", "2", "6", "5", "020200", "QS10020346", "3.03", "25000", {"", "", "", "", ""}}};

// Adapters 1 to n of a model of fixed values, whose port serves kFixedPort:
// speed 3 has no rate (1), a disabled port is offline (3) and its link down
// (FC address 0).
std::vector<Adapter> fixed_adapters(int n, std::string* json) {
  std::vector<Adapter> list;
  *json = R"({"adapters":[)";
  for (int k = 1; k <= n; ++k) {
    char wwn[17];
    std::snprintf(wwn, sizeof wwn, "20000000000000%02d", k);
    list.push_back({"/pvd/pci" + std::to_string(k) + "/dev1/fcp" + std::to_string(k), wwn,
                    "21" + std::string(wwn + 2)});
    *json += (k > 1 ? R"(,{"name":")" : R"({"name":")") + list.back().name + R"(","node_wwn":")" +
             wwn + R"(","ports":[{"wwn":")" + list.back().port_wwn +
             R"(","speed":3,"state":0,"topology":2,"connector_type":1,"phys_type":3,)"
             R"("fc_address":"0x0A0B0C","serial_number":"S1","revision":"R2",)"
             R"("counters":{"tx_seqs":5,"rx_seqs":6,"tx_bytes":305419896,"rx_bytes":7,)"
             R"("tx_errors":3,"rx_errors":4}}]})";
  }
  *json += "]}";
  return list;
}
const std::vector<std::string> kFixedCounters = {hex("0000000000000007"), hex("0000000000000005"),
                                                 hex("0000000000000006"), hex("0000000012345678"),
                                                 hex("0000000000000007")};
const Port kFixedPort{"5", "3", "1", "4", "000000", "S1", "R2", "1", kFixedCounters};

class StdAgentE2e : public BridgeTest {};

const std::string kNoSuchInstance = "= No Such Instance currently exists at this OID";

struct Row {
  std::string oid;
  std::string answer;  // what follows the name; "": genErr
};

const Row kGetRows[] = {
    {kFa + "1.10.1.14." + unit(2) + ".1", "= STRING: \"Quellstone Corporation\""},
    {kFa + "4.5.1.1." + unit(2) + ".1", "= " + unit_bytes(2)},
    {kFa + "1.10.1.12." + unit(2) + ".1", "= STRING: \"QS10020346\""},
    {kFa + "1.10.1.22." + unit(2) + ".1", "= " + hex("200000E08B040506")},
    {kFa + "1.10.1.15." + unit(2) + ".1", "= INTEGER: 25000"},
    {kFa + "1.6.1.2." + unit(0), kNoSuchInstance},
    {kFa + "1.10.1.15." + unit(3) + ".1", kNoSuchInstance},
    {kFa + "1.10.1.15." + unit(1) + ".4294967295", kNoSuchInstance},
    {kFa + "1.10.1.15." + unit(1) + ".1.1", kNoSuchInstance},
    {kFa + "1.10.1.15." + unit(1), kNoSuchInstance},
    {kFa + "1.1.0.5", kNoSuchInstance},
    {kFa + "3.0.7", kNoSuchInstance},
    {kFa + "2.1.0." + unit(1), kNoSuchInstance},
    {kFa + "1.6.1.2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.257", kNoSuchInstance},
    {kFa + "2.1.0", ""},  // known, not served: genErr
    {kFa + "2.2.0", ""},
    {kFa + "1.6.1.5." + unit(1), ""},
};

// The walks give the model's values row for row; on the simulator's own
// model (-1) also GET, GETNEXT from any name, and SET answer as the MIB says.
TEST_F(StdAgentE2e, WalkGetGetNextAndSetAnswerAsTheMibSays) {
  std::string events = snmpd_.dir() + "/events.log";
  write_file(events, "");
  for (int n : {0, 1, 8, -1}) {
    SCOPED_TRACE(n);
    std::string json;
    std::vector<Adapter> adapters = n < 0 ? kDefaultAdapters : fixed_adapters(n, &json);
    start({"stdagent"}, json, {{"TAVRO_SNMP_EVENT_LOG", events}});
    std::vector<Port> ports =
        n < 0 ? kDefaultPorts : std::vector<Port>(adapters.size(), kFixedPort);
    std::vector<std::string> want = expected_walk(adapters, ports);
    for (const char* tool : {"snmpwalk", "snmpbulkwalk"}) {
      std::vector<std::string> got = lines_of(client(tool, {".1.3.6.1.3.94"}).output);
      ASSERT_EQ(got.size(), want.size()) << tool << ::testing::PrintToString(got);
      for (std::size_t k = 0; k < want.size(); ++k) {
        if (want[k].back() == ' ') {  // a counter that grows: 8 bytes, the upper 4 zero
          EXPECT_EQ(got[k].rfind(want[k] + "Hex-STRING: 00 00 00 00 ", 0), 0u) << got[k];
        } else {
          EXPECT_EQ(got[k], want[k]) << tool;
        }
      }
    }
    if (n >= 0) {
      stop_bridge();
      continue;
    }
    for (const Row& row : kGetRows) {
      std::string out = client("snmpget", {row.oid}).output;
      std::string line = row.answer.empty() ? kGenErrAt + row.oid : row.oid + " " + row.answer;
      EXPECT_EQ(out.rfind(line, 0), 0u) << out;
    }
    EXPECT_NE(read_file(events).find("FCPH_GET_PORT_SPEED_CNF: port_speed = 25000"),
              std::string::npos);
    ClientResult r = client("snmpset", {kFa + "1.10.1.17." + unit(1) + ".1", "s", "x"}, "private");
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("notWritable"), std::string::npos) << r.output;
    // GETNEXT of any name answers the first served name after it.
    std::vector<std::string> names;
    for (const std::string& line : want) names.push_back(line.substr(0, line.find(' ')));
    sweep_getnext(names, ".1.3.6.1.3.94");
  }
}

}  // namespace
}  // namespace tavro::testing
