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
  auto ask_rows = [&](const std::string& table) {
    for (const auto& row : tavro::testing::read_rows("unit/channel/catalogue.txt")) {
      if ((row.size() > 3 ? row.at(3) : "tavro") != table) continue;
      SCOPED_TRACE(row.at(0) + " " + row.at(1));
      int id = 0, type = 0, count = 0;
      std::function<void(std::uint8_t*)> fill = [](std::uint8_t*) {};
      if (std::sscanf(row.at(1).c_str(), "object %d %d %d", &id, &type, &count) == 3)
        fill = object(static_cast<std::uint32_t>(id), type, count);
      else if (!row.at(1).empty())
        fill = port(row.at(1).c_str());
      EXPECT_EQ(ask(number_of(row.at(0)), fill), row.at(2));
      EXPECT_EQ(last_, Transaction::kAnswered);
    }
  };
  open();
  ask_rows("tavro");
  EXPECT_EQ(occurrences(events_text(), "**** fc_address out of range: 0x01000000"), 1);
  EXPECT_EQ(sim_wait_idle(2000), 0);
  EXPECT_EQ(sim_messages_outstanding(), 0u) << "every delivered message is freed";

  // Failed objects answer with their error text.
  sim_fault_lxs_status(LXS_FCP, 5);
  EXPECT_EQ(ask(LXS_FCP, object(17, kValueSigned, 1)), "Error:  Number of LUNs: Fatal Error");
  sim_fault_lxs_status(LXS_FCP, 0);

  channel_.reset();
  ChannelSettings s = settings(300);
  s.responses = stdagent_responses;
  open(s);
  ask_rows("stdagent");
  // A response the agent has no row for delivers nothing: the request times out.
  // The delivery thread may still trace the last answer: let it finish first.
  ASSERT_EQ(sim_wait_idle(1000), 0);
  debug_ = 0x40000;
  EXPECT_EQ(ask(FCPH_GET_PORT_VENDOR, port(kPortA)), "Error: driver timeout");
  EXPECT_EQ(occurrences(events_text(), "unknown message 352321565"), 1);
}

}  // namespace
}  // namespace channel_test
