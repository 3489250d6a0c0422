// What the simulator alone decides about its answers: the thread and the
// response rule, routing, status 2 for what the model lacks, traffic counters
// and short areas. The value of each request is checked through a channel in
// tests/unit/channel and end to end.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Answers = SimTest;

TEST_F(Answers, ComeOnTheDeliveryThreadKeepTheRequestFieldsAndAreCounted) {
  Client c;
  const std::uint32_t received = sim_requests_received(), answered = sim_answers_delivered(),
                      freed = sim_messages_freed();
  for (std::uint32_t id = 41; id < 46; ++id) {
    auto a =
        c.request("/pvd/fcp0.sif", 0x1E00000A, 1024, [&](std::uint8_t* d) { put32(d, 0, id); });
    EXPECT_EQ(a.number, 0x9E00000Au);
    EXPECT_EQ(a.u32(0), id);
    EXPECT_EQ(a.u32(8), 0u);
    EXPECT_NE(c.last_thread, std::this_thread::get_id());
  }
  EXPECT_EQ(sim_requests_received(), received + 5);
  EXPECT_EQ(sim_answers_delivered(), answered + 5);
  EXPECT_EQ(sim_messages_freed(), freed + 5);
}

TEST_F(Answers, EveryServiceAnswersByTheResponseRuleOtherDestinationsNot) {
  Client c;
  // A request the service does not know is still answered, by the rule of
  // expect_response: FCPH + 1, any other with bit 31 set, data unchanged.
  EXPECT_EQ(fcph(c, 0x1500002A, kPort0).number_and(16), std::pair(0x1500002Bu, 2u));
  // The rule goes by number: a port-speed request sent to "fcp" comes back
  // as 0x15000017, unanswered by the LXS service (no speed at 84).
  auto misrouted =
      c.request("fcp", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); });
  EXPECT_EQ(misrouted.number, 0x15000017u);
  EXPECT_EQ(misrouted.wwn(80), kPort0);
  EXPECT_EQ(c.request("/pvd/fcp0.sif", 0x1E000012, 256, [](std::uint8_t* d) { put32(d, 4, 77); })
                .number_and(4),
            std::pair(0x9E000012u, 77u));

  std::uint32_t dropped = sim_requests_dropped();
  // A name no adapter has is answered at once with status 2; a service name
  // out of its range reaches no one.
  EXPECT_EQ(c.request("/pvd/pci9/dev9/fcp9", 0x14000016, 256).number_and(252),
            std::pair(0x94000016u, 2u));
  EXPECT_EQ(c.request("/pvd/pci9/dev9/fcp9", 0x14000014, 512).number_and(508),
            std::pair(0x94000014u, 2u));
  EXPECT_FALSE(c.request("/pvd/fcp8.sif", 0x1E00000A, 1024, {}, 200ms));
  EXPECT_EQ(sim_requests_dropped(), dropped + 1);
}

// The programs read the status of LXS objects and of the target service (the
// FCPH, target-support and adapter status words too).
TEST_F(Answers, WhatTheModelLacksIsAnsweredWithStatus2) {
  Client c;
  // LXS objects: unknown objects, node, pair (the JBOD is seen by adapter 1
  // only), LUN beyond the count, and a write of a read-only object.
  const struct {
    std::uint32_t id;
    std::string node, remote;
    std::uint32_t index;
  } objects[] = {{0, kNode0, kArray, 0},          {21, kNode0, kArray, 0},
                 {0x7FFFFFFF, kNode0, kArray, 0}, {5, "1111111111111111", "", 0},
                 {14, kNode0, kJbod, 0},          {19, kNode0, kArray, 3},
                 {0x80000011u, kNode0, kArray, 0}};
  for (const auto& o : objects) {
    SCOPED_TRACE(o.id);
    auto a = lxs(c, o.id, o.node, o.remote, o.index);
    EXPECT_EQ(a.u32(0), o.id);
    EXPECT_EQ(a.u32(16), 2u);
  }

  // Target support: an adapter index beyond the count, an unknown pair.
  auto name = c.request("/pvd/fcp3.sif", 0x1E00000B, 1024, [](std::uint8_t* d) { put32(d, 4, 3); });
  EXPECT_EQ(name.number, 0x9E00000Bu);
  EXPECT_EQ(name.text(8), "");
  EXPECT_EQ(name.u32(72), 2u);
  EXPECT_EQ(target(c, 0x1E00000E, kNode0, kJbod).u32(252), 2u);
  EXPECT_EQ(target(c, 0x1E000010, "1111111111111111", kArray).u32(252), 2u);
  EXPECT_EQ(target(c, 0x1E000010, kNode0, kArray).u32(252), 0u);
}

TEST_F(Answers, CountersGrowWhileTheLinkIsUpAndStopWhileDown) {
  Client c;
  auto tx_bytes = [&] { return fcph(c, 0x15000032, kPort0).u32(92); };  // 512000 per second
  const std::uint32_t before = tx_bytes();
  sim_advance_clock(1000);
  EXPECT_GE(tx_bytes() - before, 512000u);

  ASSERT_EQ(sim_set_link(0, 0, 0), 0);
  const std::uint32_t down = tx_bytes();
  sim_advance_clock(5000);
  EXPECT_EQ(tx_bytes(), down);

  ASSERT_EQ(sim_set_link(0, 0, 1), 0);
  sim_advance_clock(1000);
  const std::uint32_t up = tx_bytes() - down;
  EXPECT_GE(up, 512000u);
  EXPECT_LT(up, 2u * 512000u);
}

TEST_F(Answers, MalformedRequestsAreRefusedUnanswered) {
  // A driver takes a request only in its own layout: the size of the
  // request's area, the number echo of a port or node request, a request
  // identifier where the layout has one.
  Client c;
  std::uint32_t invalid = sim_invalid_calls();
  const auto wwn = [](std::uint8_t* d) { put_wwn(d, 80, kPort0); };
  EXPECT_FALSE(c.request("fcph", 0x1500001C, 90, wwn, 200ms));
  EXPECT_FALSE(c.request("fcph", 0x15000048, 8, {}, 200ms));
  EXPECT_FALSE(c.request(
      "fcph", 0x1500001C, 256, [](std::uint8_t* d) { put32(d, 12, 0x1500001E); }, 200ms));
  q_send_msg_by_name("/pvd/fcp0.sif", c.handle, 0x1E00000A, q_msg_alloc(1024, 1024, 0));
  EXPECT_FALSE(c.wait_answer(1024, 200ms)) << "no request identifier";
  EXPECT_EQ(q_msg_alloc(256, 512, 0), nullptr);
  EXPECT_EQ(q_msg_alloc(256, 256, 1), nullptr);
  EXPECT_EQ(sim_invalid_calls(), invalid + 6);
}

}  // namespace
}  // namespace simtest
