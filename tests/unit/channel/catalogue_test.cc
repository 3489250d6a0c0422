// The read responses of the catalogue that the daemon's objects do not show
// with the simulator's default model, asked of the simulated driver through a
// real channel, arrive as the reply text the programs send. The others, the
// writes, the target-support requests and object 16 are read through the
// daemon (tests/e2e/objects); the adapter requests through discovery
// (discovery_test.cc).
#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;

// A request's number by its name in the catalogue.
std::uint32_t number_of(const std::string& name) {
  for (const RequestRow* row = message_catalogue; row->name != nullptr; ++row) {
    if (name == row->name) return row->number;
  }
  ADD_FAILURE() << name << " is not in the catalogue";
  return 0;
}

TEST_F(ChannelTest, AttributesArriveAsTextFailedObjectsAsErrorText) {
  open();
  for (const auto& row : tavro::testing::read_rows("unit/channel/catalogue.txt")) {
    SCOPED_TRACE(row.at(0) + " " + row.at(1));
    int id = 0, type = 0, count = 0;
    const bool lxs = std::sscanf(row.at(1).c_str(), "object %d %d %d", &id, &type, &count) == 3;
    EXPECT_EQ(ask(number_of(row.at(0)), lxs ? std::function<void(std::uint8_t*)>(object(
                                                  static_cast<std::uint32_t>(id), type, count))
                                            : port(row.at(1).c_str())),
              row.at(2));
    EXPECT_EQ(last_, Transaction::kAnswered);
  }
  EXPECT_EQ(occurrences(events_text(), "**** fc_address out of range: 0x01000000"), 1);
  EXPECT_EQ(sim().wait_idle(2000), 0);
  EXPECT_EQ(sim().messages_outstanding(), 0u) << "every delivered message is freed";

  // Failed objects answer with their error text.
  sim().fault_lxs_status(LXS_FCP, 5);
  EXPECT_EQ(ask(LXS_FCP, object(17, kValueSigned, 1)), "Error:  Number of LUNs: Fatal Error");
  sim().fault_lxs_status(LXS_FCP, 0);
}

// The standard MIB agent reads the same messages with its own encodings; the
// values of the simulator's default model are walked through snmpd in
// tests/e2e/snmp.
TEST_F(ChannelTest, TheAgentTableEncodesItsOwnWay) {
  ChannelSettings s = settings(300);
  s.responses = stdagent_responses;
  open(s);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "50000");
  EXPECT_EQ(ask(FCPH_GET_PORT_TOPOLOGY, port(kPortA)), "1");
  EXPECT_EQ(ask(FCPH_GET_PORT_TOPOLOGY, port(kPortDisabled)), "6");
  EXPECT_EQ(ask(FCPH_GET_TX_SEQS, port(kPortA)), "               B");
  EXPECT_EQ(ask(FCPH_GET_TX_ERRORS, port(kPortA)), "15");
  EXPECT_EQ(ask(FCPH_GET_CONNECTOR_TYPE, port(kPortA)), "6");
  EXPECT_EQ(ask(LXS_GET_ADAPTER_COUNT, [](std::uint8_t* d) { write_u32(d, 0, 1); }), "2");

  // A response the agent has no row for delivers nothing: the request times out.
  // The delivery thread may still trace the last answer: let it finish first.
  ASSERT_EQ(sim().wait_idle(1000), 0);
  debug_ = 0x40000;
  EXPECT_EQ(ask(FCPH_GET_PORT_VENDOR, port(kPortA)), "Error: driver timeout");
  EXPECT_EQ(occurrences(events_text(), "unknown message 352321565"), 1);
}

}  // namespace
}  // namespace channel_test
