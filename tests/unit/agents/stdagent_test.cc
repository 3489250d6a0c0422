// stdagent's walk rules over its tables, and its adapter table over the
// simulated driver with a clock the test moves. The walk itself, in the order
// the tables give, is checked through snmpd (tests/e2e/snmp).
#include "agents/stdagent/stdagent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agents/stdagent/stdmib_table.h"
#include "sim/sim_control.h"

namespace tavro {
namespace {

std::string unit(int n) {
  char text[40];
  std::snprintf(text, sizeof text, "%032d", n);
  return text;
}

const oid_entry& row_of(const char* suffix) {
  for (const oid_entry* row = stdmib_get_table; row->oid != nullptr; ++row) {
    if (std::strcmp(row->oid, suffix) == 0) return *row;
  }
  throw std::runtime_error(suffix);
}

TEST(StdAgentProfile, RegistersWithTheDriverAsFiba) {
  EXPECT_STREQ(kStdAgentProfile.registration_name, "FIBA");
  EXPECT_EQ(kStdAgentProfile.handle_bits, 0x46490000u);
}

struct NextRow {
  const char* row;
  std::string instance;
  int count;
  std::string next;  // "" when the row has no instance after it
};

const NextRow kNextRows[] = {
    {"1.6.1.1", unit(9), 2, ""},
    {"1.10.1.3", unit(1) + ".0", 2, unit(1) + ".1"},
    {"1.10.1.3", unit(1) + ".1", 2, ""},
    {"1.10.1.3", unit(1) + ".7", 2, unit(2) + ".1"},
    {"1.10.1.3", unit(2) + ".7", 2, ""},
    {"1.10.1.3", unit(0) + ".0", 2, unit(1) + ".1"},
    {"4.5.1.4", unit(1) + ".0", 1, unit(1) + ".1"},
    {"1.11.1.3", unit(1) + ".0", 2, unit(2) + ".1"},
    {"1.6.1.1", "0000000000000000000000000000010A", 8, ""},
};

TEST(StdAgentWalk, NextInstanceRule) {
  for (const NextRow& r : kNextRows) {
    char instance[AgentFrame::kBufferSize + 1];
    std::snprintf(instance, sizeof instance, "%s", r.instance.c_str());
    bool found = next_instance(instance, sizeof instance, row_of(r.row), r.count);
    EXPECT_EQ(found ? std::string(instance) : "", r.next) << r.row << " " << r.instance;
  }
}

struct FallbackRow {
  const char* suffix;
  const char* next;  // next of the start row; nullptr for none
};

const FallbackRow kFallbackRows[] = {
    {"1.7.1.2", "1.10.1.1"}, {"1.6.1", "1.6.1.1"}, {"1.6.1.99", "1.10.1.1"}, {"1.6.2", "1.10.1.1"},
    {"1.6", "1.6.1.1"},      {"1.10.1.2", "3.0"},  {"1.99", "3.0"},          {"2.9", "3.0"},
    {"4.5.1.60", "6.0"},     {"5.2.1.1", "6.0"},   {"6.0", "6.0"},           {"7", nullptr},
    {"", "1.1.0"},
};

TEST(StdAgentWalk, GroupTableFallbacks) {
  for (const FallbackRow& r : kFallbackRows) {
    const oid_entry* start = walk_fallback(r.suffix);
    EXPECT_STREQ(start != nullptr ? start->next : nullptr, r.next) << r.suffix;
  }
}

TEST(StdAgentTable, RebuiltAfterAnHourOnly) {
  sim_reset();
  std::int64_t now = 1000;
  ChannelSettings quick;
  quick.request_timeout_ms = 500;
  StdAgent agent(quick, [&] { return now; });
  agent.snmp_open();
  ASSERT_EQ(agent.adapters().count, 2);
  ASSERT_EQ(sim_load_model_json(
                R"({"adapters":[{"name":"/pvd/pci4/dev1/fcp0","node_wwn":"2000000000000001",)"
                R"("ports":[{"wwn":"2100000000000001"}]}]})"),
            0);
  now += StdAgent::kRebuildSeconds - 1;
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
