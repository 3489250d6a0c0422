// What the simulator alone decides about its answers: traffic counters, the
// order of delayed answers and the refusal of requests out of layout. The
// value of each request is checked through a channel in tests/unit/channel
// and end to end.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Answers = SimTest;

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

TEST_F(Answers, DelayedAnswerDoesNotHoldBackALaterRequest) {
  // The program times out on the first request, sends the next, and then
  // sees the late answer arrive after the next one's.
  Client c;
  sim_fault_delay(0x15000016, 400);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(c.send("fcph", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); }));
  EXPECT_EQ(fcph(c, 0x15000018, kPort0).number, 0x15000019u);
  EXPECT_EQ(c.wait_answer(256).number, 0x15000017u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
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
