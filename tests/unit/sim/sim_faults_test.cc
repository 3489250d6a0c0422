// Fault injection through the control functions, for what the channel tests
// (which inject every kind of fault) do not see: timing, what a failed or
// faulted call leaves unchanged, and the status of the target service.
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Faults = SimTest;
using Clock = std::chrono::steady_clock;

TEST_F(Faults, DelayedAnswerDoesNotHoldBackALaterRequest) {
  // The program times out on the first request, sends the next, and then
  // sees the late answer arrive after the next one's.
  Client c;
  sim_fault_delay(0x15000016, 400);
  auto start = Clock::now();
  ASSERT_TRUE(c.send("fcph", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); }));
  EXPECT_EQ(fcph(c, 0x15000018, kPort0).number, 0x15000019u);
  EXPECT_EQ(c.wait_answer(256).number, 0x15000017u);
  EXPECT_GE(Clock::now() - start, 400ms);
}

TEST_F(Faults, LxsStatusFailsTheRequestAndChangesNothing) {
  Client c;
  for (std::uint32_t status = 2; status <= 5; ++status) {
    SCOPED_TRACE(status);
    sim_fault_lxs_status(0x0B00001E, static_cast<int>(status));
    auto a = lxs(c, 14, kNode0, kArray);
    EXPECT_EQ(a.number, 0x8B00001Eu);
    EXPECT_EQ(a.u32(0), 14u);
    EXPECT_EQ(a.u32(16), status);
  }
  EXPECT_EQ(
      lxs(c, 0x8000000Eu, kNode0, kArray, 0, [](std::uint8_t* d) { put32(d, 112, 7); }).u32(16),
      5u);
  for (int no_fault : {0, 1}) {  // 1 is outside 2 to 5: no fault either
    SCOPED_TRACE(no_fault);
    sim_fault_lxs_status(0x0B00001E, no_fault);
    auto read = lxs(c, 14, kNode0, kArray);
    EXPECT_EQ(read.u32(16), 0u);
    EXPECT_EQ(read.u32(112), 0u) << "the failed write was not applied";
  }

  sim_fault_lxs_status(0x1E00000A, 3);
  sim_fault_lxs_status(0x1E00000B, 4);
  auto count = c.request("/pvd/fcp0.sif", 0x1E00000A, 1024);
  auto name = c.request("/pvd/fcp0.sif", 0x1E00000B, 1024);
  EXPECT_EQ(count.u32(8), 3u);
  EXPECT_EQ(count.u32(4), 0u);
  EXPECT_EQ(name.u32(72), 4u);
  EXPECT_EQ(name.text(8), "");
}

TEST_F(Faults, CrashInsideEachFunctionThenTheLibraryStillWorks) {
  Client c;
  const std::uint32_t handle = 0x54419000;

  sim_fault_crash("q_msg_init");
  EXPECT_EQ(fault_of([] { q_msg_init(); }), SIGSEGV);
  EXPECT_NE(q_msg_init(), 0);

  sim_fault_crash("q_register_msg_handler");
  EXPECT_EQ(fault_of([&] { q_register_msg_handler(handle, "X", 0, kHandlers[1]); }), SIGSEGV);
  EXPECT_EQ(q_register_msg_handler(handle, "X", 0, kHandlers[1]), 1);

  sim_fault_crash("q_deregister_msg_handler");
  EXPECT_EQ(fault_of([&] { q_deregister_msg_handler(handle); }), SIGSEGV);
  q_deregister_msg_handler(handle);

  sim_fault_crash("q_msg_alloc");
  EXPECT_EQ(fault_of([] { q_msg_alloc(256, 256, 0); }), SIGSEGV);

  void* area = q_msg_alloc(1024, 1024, 0);
  ASSERT_NE(area, nullptr);
  sim_fault_crash("q_send_msg_by_name");
  EXPECT_EQ(fault_of([&] { c.send("/pvd/fcp0.sif", 0x1E00000A, 1024, {}, area); }), SIGSEGV);
  EXPECT_FALSE(c.wait_answer(1024, 100ms)) << "the faulted send sent nothing";

  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  auto d = c.inbox().pop(1000ms);
  ASSERT_TRUE(d);
  sim_fault_crash("q_msg_free");
  EXPECT_EQ(fault_of([&] { q_msg_free(d->message); }), SIGSEGV);
  std::uint32_t freed = sim_messages_freed();
  q_msg_free(d->message);
  EXPECT_EQ(sim_messages_freed(), freed + 1);
  EXPECT_EQ(c.request("/pvd/fcp0.sif", 0x1E00000A, 1024).u32(4), 2u);

  sim_fault_crash("q_msg_done");
  EXPECT_EQ(fault_of([] { q_msg_done(); }), SIGSEGV);
  // TearDown's q_msg_done then releases the area the faulted send left behind.
}

}  // namespace
}  // namespace simtest
