// privagent in process: the frame with the private tree's profile, over a
// channel to the simulated driver, queried as the SNMP service queries it.
// Values, errors, writes and the debug log are checked through snmpd
// (tests/e2e/snmp); here what snmpd never sends or does not show.
#include "agents/privagent/privagent.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agents/frame/varbind_text.h"
#include "sim/sim_control.h"
#include "tests/support/snmpd_process.h"

namespace tavro {
namespace {

using Ids = std::vector<std::uint32_t>;

const Ids kCount = {1, 3, 6, 1, 4, 1, 48217, 3, 3, 1, 0};

// A binding list the test owns, as the service would pass it.
struct Bindings {
  explicit Bindings(std::vector<Ids> names) : list(names.size()) {
    for (std::size_t k = 0; k < names.size(); ++k) {
      snmp_oid n{static_cast<std::uint32_t>(names[k].size()), names[k].data()};
      SnmpUtilOidCpy(&list[k].name, &n);
      list[k].value.asnType = snmp::kNull;
    }
  }
  ~Bindings() {
    for (auto& b : list) {
      SnmpUtilOidFree(&b.name);
      free_value(b.value);
    }
  }

  std::vector<snmp_varbind> list;
  snmp_varbind_list raw{list.data(), static_cast<std::uint32_t>(list.size())};
};

class PrivAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_reset();
    setenv(kDebugLogVariable, (testing::make_temp_dir() + "/qsnmpdbg.log").c_str(), 1);
  }
  void TearDown() override { unsetenv(kDebugLogVariable); }

  // Started as the service starts an agent; process_id 0 is the real one.
  void start(std::uint32_t process_id = 0) {
    ChannelSettings settings;
    settings.request_timeout_ms = 300;
    settings.process_id = process_id;
    agent_ = std::make_unique<AgentFrame>(kPrivAgentProfile, settings);
    snmp_oid view{};
    void* trap = &view;
    EXPECT_EQ(agent_->extension_init(&trap, &view), 1);
    EXPECT_EQ(trap, nullptr);
    EXPECT_EQ(Ids(view.ids, view.ids + view.idLength), (Ids{1, 3, 6, 1, 4, 1, 48217, 3}));
    EXPECT_EQ(agent_->extension_init_ex(&view), 0);
  }
  int query(std::uint8_t type, Bindings& b) {
    status_ = index_ = -1;
    return agent_->extension_query(type, &b.raw, &status_, &index_);
  }

  std::unique_ptr<AgentFrame> agent_;
  std::int32_t status_ = -1, index_ = -1;
};

TEST_F(PrivAgent, HandleNamesTheAgentInItsUpperBitsAndTheProcessInItsLower) {
  EXPECT_STREQ(kPrivAgentProfile.registration_name, "SNMP");
  start();
  ASSERT_TRUE(agent_->channel().channel_open());
  EXPECT_EQ(agent_->channel().reg_handle(),
            0x534E0000u | (static_cast<std::uint32_t>(getpid()) & 0xFFFFu));
  start(0x12345);
  ASSERT_TRUE(agent_->channel().channel_open());
  EXPECT_EQ(agent_->channel().reg_handle(), 0x534E2345u);
}

TEST_F(PrivAgent, GetNextFromBeforeAndAfterTheViewAndAShortNameIsNoSuchName) {
  start();
  Bindings b({{1, 3, 6}, {1, 3, 6, 1, 4, 1, 48217, 4}});
  b.list[1].value.asnType = snmp::kInteger;
  b.list[1].value.asnValue.number = 77;
  EXPECT_EQ(query(snmp::kGetNext, b), 1);
  EXPECT_EQ(status_, 0);
  const snmp_oid& first = b.list[0].name;
  EXPECT_EQ(Ids(first.ids, first.ids + first.idLength), (Ids{1, 3, 6, 1, 4, 1, 48217, 3, 1, 2, 0}));
  const snmp_oid& past = b.list[1].name;
  EXPECT_EQ(Ids(past.ids, past.ids + past.idLength), (Ids{1, 3, 6, 1, 4, 1, 48217, 4}));
  EXPECT_EQ(b.list[1].value.asnValue.number, 77) << "value untouched";

  Bindings short_name({{1, 3, 6}});
  EXPECT_EQ(query(snmp::kGet, short_name), 1);
  EXPECT_EQ(status_, 2);
  EXPECT_EQ(index_, 1);
  EXPECT_EQ(query(0xA2, short_name), 0) << "other request types are not handled";
  EXPECT_EQ(short_name.list[0].value.asnType, snmp::kNull);
}

// A port the driver does not answer for stays unlisted, and the table
// unknown, so no port is refused for it.
TEST_F(PrivAgent, DiscoveryListsEachPortReadAndIsUnknownWithoutOne) {
  for (bool silent : {false, true}) {
    sim_load_model_json(R"({"adapters":[{"name":"/a","node_wwn":"2000000000000001","ports":[)"
                        R"({"wwn":"2100000000000001"},{"wwn":"2200000000000002"}]}]})");
    sim_fault_no_answer(0x15000070, silent);
    start();
    agent_->build_adapter_tbl(true);
    std::vector<SubIds> ports;
    list_instances("P", agent_->adapters(), ports);
    EXPECT_EQ(agent_->adapters().known, !silent);
    EXPECT_EQ(ports.size(), silent ? 1u : 2u);
  }
  // A walk passes over the duplex status (asked of the adapter, never
  // answered by port), and over nothing else of the port table.
  auto served = [&](std::uint32_t column) {
    const Ids row = {1, 3, 6, 1, 4, 1, 48217, 3, 3, 7, 1, column};
    return std::count_if(
        agent_->served_names().begin(), agent_->served_names().end(), [&](const SubIds& n) {
          return n.size() > row.size() && std::equal(row.begin(), row.end(), n.begin());
        });
  };
  EXPECT_EQ(served(14), 0);
  EXPECT_EQ(served(2), 1);
}

TEST(PrivAgentLibrary, ExportsTheFourAgentFunctionsAndTheBudget) {
  EXPECT_EQ(testing::run_command("nm -D --defined-only " + testing::binary_dir() +
                                 "/libprivagent.so | cut -d' ' -f3")
                .output,
            "SnmpExtensionInit\nSnmpExtensionInitEx\nSnmpExtensionQuery\nSnmpExtensionTrap\n"
            "tavro_agent_budget\n");
}

}  // namespace
}  // namespace tavro
