// Fault injection through the control functions.
#include <csetjmp>
#include <csignal>

#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Faults = SimTest;
using Clock = std::chrono::steady_clock;

TEST_F(Faults, DelayHoldsTheAnswer) {
  Client c;
  sim_fault_delay(0x1E00000A, 300);
  auto start = Clock::now();
  auto a = c.request("/pvd/fcp0.sif", 0x1E00000A, 1024);
  auto waited = Clock::now() - start;
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x9E00000Au);
  EXPECT_GE(waited, 300ms);
}

TEST_F(Faults, DelayedAnswerDoesNotHoldBackALaterRequest) {
  // The program times out on the first request, sends the next, and then
  // sees the late answer arrive after the next one's.
  Client c;
  sim_fault_delay(0x15000016, 400);
  ASSERT_TRUE(c.send("fcph", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); }));
  auto second = fcph(c, 0x15000018, kPort0);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->number, 0x15000019u);
  auto late = c.wait_answer(256, 2000ms);
  ASSERT_TRUE(late);
  EXPECT_EQ(late->number, 0x15000017u);
}

TEST_F(Faults, NoAnswer) {
  Client c;
  sim_fault_no_answer(0x15000016, 1);
  std::uint32_t received = sim_requests_received();
  ASSERT_TRUE(c.send("fcph", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); }));
  EXPECT_FALSE(c.wait_answer(256, 300ms).has_value());
  EXPECT_EQ(sim_requests_received(), received + 1);
  EXPECT_TRUE(fcph(c, 0x15000018, kPort0).has_value()) << "other requests are answered";
  sim_fault_no_answer(0x15000016, 0);
  EXPECT_TRUE(fcph(c, 0x15000016, kPort0).has_value());
}

TEST_F(Faults, WrongNumber) {
  Client c;
  sim_fault_wrong_number(0x15000016, 1);
  auto a = fcph(c, 0x15000016, kPort0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x15000019u);  // the port-state answer instead of the speed's
  EXPECT_EQ(get32(a->data, 84), 2u);
  sim_fault_wrong_number_to(0x1E00000A, 0x8B00001E);
  auto b = c.request("/pvd/fcp0.sif", 0x1E00000A, 1024);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->number, 0x8B00001Eu);
  sim_clear_faults();
  a = fcph(c, 0x15000016, kPort0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->number, 0x15000017u);
}

TEST_F(Faults, WrongObject) {
  Client c;
  sim_fault_wrong_object(0x0B00001E, 1);
  auto read = lxs(c, 5, kNode0);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->number, 0x8B00001Eu);
  EXPECT_EQ(get32(read->data, 0), 6u);
  auto write = lxs(c, 0x80000004u, kNode0);
  ASSERT_TRUE(write);
  EXPECT_EQ(get32(write->data, 0), 0x80000005u) << "a write stays a write";
}

TEST_F(Faults, LxsStatusFailsTheObjectAndChangesNothing) {
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
}

TEST_F(Faults, LxsStatusOnTheAdapterRequests) {
  Client c;
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

TEST_F(Faults, DriverErrorGoesToEveryHandler) {
  Client a(0, 0x54410001);
  Client b(1, 0x46490001, "FIBA");
  sim_fault_driver_error(7);
  ASSERT_EQ(sim_wait_idle(1000), 0);
  a.drain(50ms);
  b.drain(50ms);
  EXPECT_EQ(a.driver_errors, std::vector<std::uint32_t>{7});
  EXPECT_EQ(b.driver_errors, std::vector<std::uint32_t>{7});
}

TEST_F(Faults, DriverErrorOnARequestThenSilence) {
  Client c;
  sim_fault_driver_error_on(0x15000016, 0x1F);
  sim_fault_no_answer(0x15000016, 1);
  ASSERT_TRUE(c.send("fcph", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); }));
  EXPECT_FALSE(c.wait_answer(256, 300ms).has_value());
  EXPECT_EQ(c.driver_errors, std::vector<std::uint32_t>{0x1F});
}

TEST_F(Faults, AllocationFailures) {
  sim_fault_alloc_fail(2);
  EXPECT_EQ(q_msg_alloc(256, 256, 0), nullptr);
  EXPECT_EQ(q_msg_alloc(256, 256, 0), nullptr);
  void* area = q_msg_alloc(256, 256, 0);
  ASSERT_NE(area, nullptr);
  const auto* bytes = static_cast<const unsigned char*>(area);
  EXPECT_TRUE(std::all_of(bytes, bytes + 256, [](unsigned char b) { return b == 0; }));
  Client c;
  q_send_msg_by_name("/pvd/fcp0.sif", c.handle(), 0x1E00000A, area);
  EXPECT_TRUE(c.wait_answer(256).has_value());
}

TEST_F(Faults, RefusedRegistrations) {
  sim_fault_refuse_register(3);
  for (std::uint32_t attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(q_register_msg_handler(0x54410000 + attempt, "TAVRO", 0, handler_for(0)), 0);
  }
  EXPECT_EQ(q_register_msg_handler(0x54410003, "TAVRO", 0, handler_for(0)), 1);
  q_deregister_msg_handler(0x54410003);
}

// --- crashes inside the library ------------------------------------------------

TEST_F(Faults, CrashInsideEachFunctionThenTheLibraryStillWorks) {
  FaultCatcher catcher;
  Client c;
  std::uint32_t handle = 0x54419000;

  sim_fault_crash("q_msg_init");
  EXPECT_EQ(catcher.call([] { q_msg_init(); }), SIGSEGV);
  EXPECT_NE(q_msg_init(), 0);

  sim_fault_crash("q_register_msg_handler");
  EXPECT_EQ(catcher.call([&] { q_register_msg_handler(handle, "X", 0, handler_for(1)); }), SIGSEGV);
  EXPECT_EQ(q_register_msg_handler(handle, "X", 0, handler_for(1)), 1);

  sim_fault_crash("q_deregister_msg_handler");
  EXPECT_EQ(catcher.call([&] { q_deregister_msg_handler(handle); }), SIGSEGV);
  q_deregister_msg_handler(handle);

  sim_fault_crash("q_msg_alloc");
  EXPECT_EQ(catcher.call([] { q_msg_alloc(256, 256, 0); }), SIGSEGV);

  void* area = q_msg_alloc(1024, 1024, 0);
  ASSERT_NE(area, nullptr);
  sim_fault_crash("q_send_msg_by_name");
  EXPECT_EQ(
      catcher.call([&] { q_send_msg_by_name("/pvd/fcp0.sif", c.handle(), 0x1E00000A, area); }),
      SIGSEGV);
  EXPECT_FALSE(c.wait_answer(1024, 100ms).has_value()) << "the faulted send sent nothing";

  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  auto d = inboxes()[0].pop(1000ms);
  ASSERT_TRUE(d);
  sim_fault_crash("q_msg_free");
  EXPECT_EQ(catcher.call([&] { q_msg_free(d->message); }), SIGSEGV);
  std::uint32_t freed = sim_messages_freed();
  q_msg_free(d->message);
  EXPECT_EQ(sim_messages_freed(), freed + 1);

  auto a = c.request("/pvd/fcp0.sif", 0x1E00000A, 1024);
  ASSERT_TRUE(a);
  EXPECT_EQ(get32(a->data, 4), 2u);

  sim_fault_crash("q_msg_done");
  EXPECT_EQ(catcher.call([] { q_msg_done(); }), SIGSEGV);
  // TearDown's q_msg_done then releases the area the faulted send left behind.
}

TEST_F(Faults, CrashWithOtherSignals) {
  FaultCatcher catcher;
  for (int signal : {SIGILL, SIGFPE, SIGBUS, SIGSEGV}) {
    ASSERT_EQ(sim_fault_crash_signal("q_msg_alloc", signal), 0);
    void* area = nullptr;
    EXPECT_EQ(catcher.call([&] { area = q_msg_alloc(256, 256, 0); }), signal);
    EXPECT_EQ(area, nullptr);
  }
  EXPECT_EQ(sim_fault_crash_signal("q_no_such_function", SIGSEGV), -1);
  EXPECT_EQ(catcher.call([] {
    void* area = q_msg_alloc(256, 256, 0);
    Client c;
    q_send_msg_by_name("/pvd/fcp0.sif", c.handle(), 0x1E00000A, area);
    c.wait_answer(256);
  }),
            0);
}

TEST_F(Faults, CrashIsArmedForOneCallOnly) {
  FaultCatcher catcher;
  sim_fault_crash("q_msg_alloc");
  EXPECT_EQ(catcher.call([] { q_msg_alloc(256, 256, 0); }), SIGSEGV);
  int second = catcher.call([] {
    void* area = q_msg_alloc(256, 256, 0);
    EXPECT_NE(area, nullptr);
    Client c;
    q_send_msg_by_name("/pvd/fcp0.sif", c.handle(), 0x1E00000A, area);
    c.wait_answer(256);
  });
  EXPECT_EQ(second, 0);
}

}  // namespace
}  // namespace simtest
