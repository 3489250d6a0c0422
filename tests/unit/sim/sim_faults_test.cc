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
  auto second = fcph(c, 0x15000018, kPort0);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->number, 0x15000019u);
  auto late = c.wait_answer(256, 2000ms);
  ASSERT_TRUE(late);
  EXPECT_EQ(late->number, 0x15000017u);
  EXPECT_GE(Clock::now() - start, 400ms);
}

TEST_F(Faults, LxsStatusFailsTheRequestAndChangesNothing) {
  Client c;
  for (int status = 2; status <= 5; ++status) {
    sim_fault_lxs_status(0x0B00001E, status);
    auto a = lxs(c, 14, kNode0, kArray);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->number, 0x8B00001Eu);
    EXPECT_EQ(get32(a->data, 0), 14u);
    EXPECT_EQ(get32(a->data, 16), static_cast<std::uint32_t>(status));
  }
  auto write = lxs(c, 0x8000000Eu, kNode0, kArray, 0, [](std::uint8_t* d) { put32(d, 112, 7); });
  ASSERT_TRUE(write);
  EXPECT_EQ(get32(write->data, 16), 5u);
  sim_fault_lxs_status(0x0B00001E, 0);
  auto read = lxs(c, 14, kNode0, kArray);
  ASSERT_TRUE(read);
  EXPECT_EQ(get32(read->data, 16), 0u);
  EXPECT_EQ(get32(read->data, 112), 0u) << "the failed write was not applied";
  sim_fault_lxs_status(0x0B00001E, 1);  // outside 2 to 5: no fault
  read = lxs(c, 14, kNode0, kArray);
  ASSERT_TRUE(read);
  EXPECT_EQ(get32(read->data, 16), 0u);

  sim_fault_lxs_status(0x1E00000A, 3);
  sim_fault_lxs_status(0x1E00000B, 4);
  auto count = c.request("/pvd/fcp0.sif", 0x1E00000A, 1024);
  auto name = c.request("/pvd/fcp0.sif", 0x1E00000B, 1024);
  ASSERT_TRUE(count && name);
  EXPECT_EQ(get32(count->data, 8), 3u);
  EXPECT_EQ(get32(count->data, 4), 0u);
  EXPECT_EQ(get32(name->data, 72), 4u);
  EXPECT_EQ(text_at(name->data, 8), "");
}

// --- crashes inside the library ------------------------------------------------

TEST_F(Faults, CrashInsideEachFunctionThenTheLibraryStillWorks) {
  Client c;
  std::uint32_t handle = 0x54419000;

  sim_fault_crash("q_msg_init");
  EXPECT_EQ(fault_of([] { q_msg_init(); }), SIGSEGV);
  EXPECT_NE(q_msg_init(), 0);

  sim_fault_crash("q_register_msg_handler");
  EXPECT_EQ(fault_of([&] { q_register_msg_handler(handle, "X", 0, handler_for(1)); }), SIGSEGV);
  EXPECT_EQ(q_register_msg_handler(handle, "X", 0, handler_for(1)), 1);

  sim_fault_crash("q_deregister_msg_handler");
  EXPECT_EQ(fault_of([&] { q_deregister_msg_handler(handle); }), SIGSEGV);
  q_deregister_msg_handler(handle);

  sim_fault_crash("q_msg_alloc");
  EXPECT_EQ(fault_of([] { q_msg_alloc(256, 256, 0); }), SIGSEGV);

  void* area = q_msg_alloc(1024, 1024, 0);
  ASSERT_NE(area, nullptr);
  sim_fault_crash("q_send_msg_by_name");
  EXPECT_EQ(fault_of([&] { q_send_msg_by_name("/pvd/fcp0.sif", c.handle(), 0x1E00000A, area); }),
            SIGSEGV);
  EXPECT_FALSE(c.wait_answer(1024, 100ms).has_value()) << "the faulted send sent nothing";

  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  auto d = inboxes()[0].pop(1000ms);
  ASSERT_TRUE(d);
  sim_fault_crash("q_msg_free");
  EXPECT_EQ(fault_of([&] { q_msg_free(d->message); }), SIGSEGV);
  std::uint32_t freed = sim_messages_freed();
  q_msg_free(d->message);
  EXPECT_EQ(sim_messages_freed(), freed + 1);

  auto a = c.request("/pvd/fcp0.sif", 0x1E00000A, 1024);
  ASSERT_TRUE(a);
  EXPECT_EQ(get32(a->data, 4), 2u);

  sim_fault_crash("q_msg_done");
  EXPECT_EQ(fault_of([] { q_msg_done(); }), SIGSEGV);
  // TearDown's q_msg_done then releases the area the faulted send left behind.
}

}  // namespace
}  // namespace simtest
