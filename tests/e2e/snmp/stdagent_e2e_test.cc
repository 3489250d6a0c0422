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
    const Vars vars = {{"NO_INSTANCE", "= No Such Instance currently exists at this OID"}};
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

}  // namespace
}  // namespace tavro::testing
