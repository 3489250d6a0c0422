// stdagent's adapter table over the simulated driver with a clock the test
// moves. Its walk is checked through snmpd (tests/e2e/snmp).
#include "agents/stdagent/stdagent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agents/stdagent/stdmib_table.h"
#include "sim/sim_control.h"

namespace tavro {
namespace {

TEST(StdAgentProfile, RegistersWithTheDriverAsFiba) {
  EXPECT_STREQ(kStdAgentProfile.registration_name, "FIBA");
  EXPECT_EQ(kStdAgentProfile.handle_bits, 0x46490000u);
}

TEST(StdAgentTable, RebuiltAfterAnHourOnly) {
  sim_reset();
  std::int64_t now = 1000;
  ChannelSettings quick;
  quick.request_timeout_ms = 500;
  AgentFrame agent(kStdAgentProfile, quick, [&] { return now; });
  agent.snmp_open();
  ASSERT_EQ(agent.adapters().count, 2);
  ASSERT_EQ(sim_load_model_json(
                R"({"adapters":[{"name":"/pvd/pci4/dev1/fcp0","node_wwn":"2000000000000001",)"
                R"("ports":[{"wwn":"2100000000000001"}]}]})"),
            0);
  now += AgentFrame::kRebuildSeconds - 1;
  agent.build_adapter_tbl();
  EXPECT_EQ(agent.adapters().count, 2);
  now += 1;
  agent.build_adapter_tbl();
  EXPECT_EQ(agent.adapters().count, 1);
  EXPECT_STREQ(agent.adapters().names[0].adap, "/pvd/pci4/dev1/fcp0");
  sim_reset();
}

}  // namespace
}  // namespace tavro
