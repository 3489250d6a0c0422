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

struct Case {
  std::uint32_t request;
  std::function<void(std::uint8_t*)> fill;
  const char* reply;
};

TEST_F(ChannelTest, AttributesArriveAsTextFailedObjectsAsErrorText) {
  open();
  const Case cases[] = {
      {FCPH_GET_PORT_REVISION, port(kPortA), "R1.0"},
      {FCPH_GET_PORT_DESCRIPTION, port(kPortA), "Port A"},
      {FCPH_GET_PORT_VERSION, port(kPortA), "FW 1.1"},
      {FCPH_GET_PORT_TOPOLOGY, port(kPortA), "7"},
      {FCPH_GET_PORT_TOPOLOGY, port(kPortDisabled), "2"},
      {FCPH_GET_PORT_TOPOLOGY, port(kPortFar), "1"},
      {FCPH_GET_SUPPORTED_CLASSES, port(kPortDisabled), "00"},
      {FCPH_GET_SUPPORTED_CLASSES, port(kPortFar), "01"},
      {FCPH_GET_TX_SEQS, port(kPortA), "11"},
      {FCPH_GET_RX_SEQS, port(kPortA), "12"},
      {FCPH_GET_TX_BYTES, port(kPortA), "13"},
      {FCPH_GET_RX_BYTES, port(kPortA), "14"},
      {FCPH_GET_TX_ERRORS, port(kPortA), "15"},
      {FCPH_GET_RX_ERRORS, port(kPortA), "16"},
      {FCPH_GET_PHYS_TYPE, port(kPortA), "2"},
      {FCPH_GET_CONNECTOR_TYPE, port(kPortA), "5"},
      {FCPH_GET_LINK_STATE, port(kPortDisabled), "2"},
      {FCPH_GET_LINK_TRANSITIONS, port(kPortA), "3"},
      {FCPH_GET_SEND_OPS, port(kNodeA), "11"},
      {FCPH_GET_RCV_OPS, port(kNodeA), "12"},
      {FCPH_GET_SEND_BYTES, port(kNodeA), "13"},
      {FCPH_GET_RCV_BYTES, port(kNodeA), "14"},
      {FCPH_GET_SEND_ERRORS, port(kNodeA), "15"},
      {FCPH_GET_RCV_ERRORS, port(kNodeA), "16"},
      {FCPH_GET_SEND_DISCARD, port(kNodeA), "17"},
      {FCPH_GET_RCV_DISCARD, port(kNodeA), "18"},
      {FCPH_GET_REMOTE_NODE_CLASS, port(kRemote), "04"},
      {FCPH_GET_PORT_USR_TOPOLOGY, port(kPortA), "1"},
      {FCPH_GET_PORT_USR_TOPOLOGY, port(kPortFar), "2"},
      {FCPH_GET_FC_ADDRESS, port(kPortFar), "1000000"},
      {LXS_FCP, object(5, kValueUnsigned, 1), "11"},
      {LXS_FCP, object(14, kValueSigned, 1), "4"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ask(c.request, c.fill), c.reply) << std::hex << c.request;
    EXPECT_EQ(last_, Transaction::kAnswered) << std::hex << c.request;
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
