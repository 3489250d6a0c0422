// What the simulator alone decides about its answers: the thread and the
// response rule, routing, status 2 for what the model lacks, the addressing
// the standard MIB agent relies on, traffic counters and short areas. The
// value of each request is checked through a channel in tests/unit/channel.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Answers = SimTest;

TEST_F(Answers, ComeOnTheDeliveryThreadKeepTheRequestFieldsAndAreCounted) {
  Client c;
  std::uint32_t received = sim_requests_received();
  std::uint32_t answered = sim_answers_delivered();
  std::uint32_t freed = sim_messages_freed();
  for (std::uint32_t id = 41; id < 46; ++id) {
    auto a =
        c.request("/pvd/fcp0.sif", 0x1E00000A, 1024, [&](std::uint8_t* d) { put32(d, 0, id); });
    ASSERT_TRUE(a);
    EXPECT_EQ(a->number, 0x9E00000Au);
    EXPECT_EQ(get32(a->data, 0), id);
    EXPECT_EQ(get32(a->data, 4), 2u);
    EXPECT_EQ(get32(a->data, 8), 0u);
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
  auto fcph_unknown = fcph(c, 0x1500002A, kPort0);
  ASSERT_TRUE(fcph_unknown);
  EXPECT_EQ(fcph_unknown->number, 0x1500002Bu);
  EXPECT_EQ(get32(fcph_unknown->data, 16), 2u);
  // The rule goes by number: a port-speed request sent to "fcp" comes back
  // as 0x15000017, unanswered by the LXS service (no speed at 84).
  auto misrouted =
      c.request("fcp", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); });
  ASSERT_TRUE(misrouted);
  EXPECT_EQ(misrouted->number, 0x15000017u);
  EXPECT_EQ(hex_at(misrouted->data, 80), kPort0);
  auto sif_unknown =
      c.request("/pvd/fcp0.sif", 0x1E000012, 256, [](std::uint8_t* d) { put32(d, 4, 77); });
  ASSERT_TRUE(sif_unknown);
  EXPECT_EQ(sif_unknown->number, 0x9E000012u);
  EXPECT_EQ(get32(sif_unknown->data, 4), 77u);

  std::uint32_t dropped = sim_requests_dropped();
  EXPECT_FALSE(c.request("/pvd/pci9/dev9/fcp9", 0x14000016, 256, {}, 200ms));
  EXPECT_FALSE(c.request("/pvd/fcp8.sif", 0x1E00000A, 1024, {}, 200ms));
  EXPECT_EQ(sim_requests_dropped(), dropped + 2);
}

// The programs read the status of LXS objects and of the target service (the
// FCPH status word is the simulator's own).
TEST_F(Answers, WhatTheModelLacksIsAnsweredWithStatus2OrAllOnes) {
  Client c;
  // LXS objects: unknown objects, node, pair (the JBOD is seen by adapter 1
  // only), LUN beyond the count, and a write of a read-only object.
  struct Object {
    std::uint32_t id;
    std::string node, remote;
    std::uint32_t index;
  };
  const Object objects[] = {{0, kNode0, kArray, 0},          {21, kNode0, kArray, 0},
                            {0x7FFFFFFF, kNode0, kArray, 0}, {5, "1111111111111111", "", 0},
                            {14, kNode0, kJbod, 0},          {19, kNode0, kArray, 3},
                            {0x80000011u, kNode0, kArray, 0}};
  for (const Object& o : objects) {
    auto a = lxs(c, o.id, o.node, o.remote, o.index);
    ASSERT_TRUE(a);
    EXPECT_EQ(get32(a->data, 0), o.id);
    EXPECT_EQ(get32(a->data, 16), 2u) << std::hex << o.id;
  }

  // Target support: an adapter index beyond the count, an unknown pair.
  auto name = c.request("/pvd/fcp3.sif", 0x1E00000B, 1024, [](std::uint8_t* d) { put32(d, 4, 3); });
  auto target_id = target(c, 0x1E00000E, kNode0, kJbod);
  auto blocked = target(c, 0x1E000010, "1111111111111111", kArray);
  ASSERT_TRUE(name && target_id && blocked);
  EXPECT_EQ(name->number, 0x9E00000Bu);
  EXPECT_EQ(text_at(name->data, 8), "");
  EXPECT_EQ(get32(name->data, 72), 2u);
  EXPECT_EQ(get32(target_id->data, 20), 0xFFFFFFFFu);
  EXPECT_EQ(get32(blocked->data, 20), 0xFFFFFFFFu);
}

TEST_F(Answers, NodeWwnAddressesTheAdaptersFirstPort) {
  // The standard MIB agent sends the adapter's node WWN at 80.
  Client c;
  auto a = fcph(c, 0x15000096, kNode1);
  ASSERT_TRUE(a);
  EXPECT_EQ(get32(a->data, 92), 0x020200u);
  auto serial = fcph(c, 0x15000020, kNode0);
  ASSERT_TRUE(serial);
  EXPECT_EQ(text_at(serial->data, 84), "QS10020345");
}

TEST_F(Answers, CountersGrowWhileTheLinkIsUpAndStopWhileDown) {
  Client c;
  auto before = fcph(c, 0x15000032, kPort0);  // TX bytes, 512000 per second
  sim_advance_clock(1000);
  auto after = fcph(c, 0x15000032, kPort0);
  ASSERT_TRUE(before && after);
  EXPECT_GE(get32(after->data, 92) - get32(before->data, 92), 512000u);

  ASSERT_EQ(sim_set_link(0, 0, 0), 0);
  auto down1 = fcph(c, 0x15000032, kPort0);
  sim_advance_clock(5000);
  auto down2 = fcph(c, 0x15000032, kPort0);
  ASSERT_TRUE(down1 && down2);
  EXPECT_EQ(get32(down1->data, 92), get32(down2->data, 92));

  ASSERT_EQ(sim_set_link(0, 0, 1), 0);
  sim_advance_clock(1000);
  auto up = fcph(c, 0x15000032, kPort0);
  ASSERT_TRUE(up);
  EXPECT_GE(get32(up->data, 92) - get32(down2->data, 92), 512000u);
  EXPECT_LT(get32(up->data, 92) - get32(down2->data, 92), 2u * 512000u);
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
  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024, {}, false));
  EXPECT_FALSE(c.wait_answer(1024, 200ms));
  EXPECT_EQ(q_msg_alloc(256, 512, 0), nullptr);
  EXPECT_EQ(q_msg_alloc(256, 256, 1), nullptr);
  EXPECT_EQ(sim_invalid_calls(), invalid + 6);
}

}  // namespace
}  // namespace simtest
