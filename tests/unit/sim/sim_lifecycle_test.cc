// Registration, delivery thread, clean-up and thread safety of the library.
#include <atomic>

#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Lifecycle = SimTest;

TEST_F(Lifecycle, RegistrationRules) {
  EXPECT_EQ(q_register_msg_handler(0x100, "A", 0, kHandlers[0]), 1);
  EXPECT_EQ(q_register_msg_handler(0x100, "B", 0, kHandlers[1]), 0) << "handle already registered";
  EXPECT_EQ(q_register_msg_handler(0x101, "A", 0, nullptr), 0);
  EXPECT_EQ(q_register_msg_handler(0x102, nullptr, 0, kHandlers[1]), 0);
  q_deregister_msg_handler(0x100);
  EXPECT_EQ(q_register_msg_handler(0x100, "B", 0, kHandlers[1]), 1)
      << "free again after deregistration";
  q_deregister_msg_handler(0x100);
  q_deregister_msg_handler(0x999);  // unknown: nothing happens
}

TEST_F(Lifecycle, AllocationSizesAndInvalidPointers) {
  EXPECT_EQ(q_msg_alloc(0, 0, 0), nullptr);
  EXPECT_EQ(q_msg_alloc(0x7FFFFFFF, 0x7FFFFFFF, 0), nullptr);
  Client c;
  for (std::uint32_t size : {256u, 512u, 1024u}) {
    auto* area = static_cast<std::uint8_t*>(q_msg_alloc(size, size, 0));
    ASSERT_NE(area, nullptr) << size;
    EXPECT_TRUE(std::all_of(area, area + size, [](std::uint8_t b) { return b == 0; })) << size;
    c.send("/pvd/fcp0.sif", 0x1E000012, size, {}, area);  // the library's now
    EXPECT_TRUE(c.wait_answer(size)) << size;
  }

  // Pointers the library did not hand out, or no longer holds.
  std::uint32_t invalid = sim_invalid_calls();
  int local = 0;
  q_send_msg_by_name("/pvd/fcp0.sif", c.handle, 0x1E00000A, &local);
  q_send_msg_by_name("/pvd/fcp0.sif", c.handle, 0x1E00000A, nullptr);
  q_msg_free(&local);
  q_msg_free(nullptr);
  void* area = q_msg_alloc(1024, 1024, 0);
  c.send("/pvd/fcp0.sif", 0x1E00000A, 1024, {}, area);
  q_send_msg_by_name("/pvd/fcp0.sif", c.handle, 0x1E00000A, area);  // sent twice
  auto d = c.inbox().pop(1000ms);
  ASSERT_TRUE(d);
  q_msg_free(d->message);
  q_msg_free(d->message);  // freed twice
  EXPECT_EQ(sim_invalid_calls(), invalid + 6);
  EXPECT_FALSE(c.inbox().pop(100ms)) << "the second send of the area sent nothing";
}

TEST_F(Lifecycle, AnswersForAGoneOrUnknownRegistrationAreDroppedAndFreed) {
  std::uint32_t dropped = sim_requests_dropped();
  {
    Client c;
    sim_fault_delay(0x1E00000A, 150);
    ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  }  // deregistered before the answer is due
  Client other(1, 0x54410002);
  q_send_msg_by_name("/pvd/fcp0.sif", 0xDEAD, 0x1E00000A, q_msg_alloc(1024, 1024, 0));
  ASSERT_EQ(sim_wait_idle(2000), 0);
  EXPECT_FALSE(inboxes[0].pop(50ms));
  EXPECT_EQ(sim_requests_dropped(), dropped + 2);
  EXPECT_EQ(sim_messages_outstanding(), 0u) << "the dropped answers were freed";
}

TEST_F(Lifecycle, DeregistrationWaitsForADeliveryInProgress) {
  static std::atomic<bool> in_handler{false}, done{false};
  const sim::Handler slow = [](int kind, void* message) {
    in_handler = true;
    std::this_thread::sleep_for(200ms);
    if (kind != kDriverError) q_msg_free(message);
    done = true;
  };
  ASSERT_EQ(q_register_msg_handler(0x200, "SLOW", 0, slow), 1);
  sim_fault_driver_error(1);
  while (!in_handler) std::this_thread::sleep_for(1ms);
  q_deregister_msg_handler(0x200);
  EXPECT_TRUE(done) << "returned while the handler still ran";
}

// A target-support request area with its identifier.
void* request_area(std::uint32_t request_id) {
  auto* area = static_cast<std::uint8_t*>(q_msg_alloc(1024, 1024, 0));
  if (area != nullptr) put32(area, 0, request_id);
  return area;
}

TEST_F(Lifecycle, HandlerMaySendARequestAndDeregisterItself) {
  static std::atomic<int> answers{0};
  const sim::Handler nesting = [](int kind, void* message) {
    if (kind == kDriverError) return;
    const std::uint32_t number = number_of(message);
    q_msg_free(message);
    ++answers;
    if (number == 0x9E00000A)  // ask the name of adapter 0 from inside the handler
      q_send_msg_by_name("/pvd/fcp0.sif", 0x300, 0x1E00000B, request_area(2));
    else
      q_deregister_msg_handler(0x300);  // from inside: must not wait for itself
  };
  ASSERT_EQ(q_register_msg_handler(0x300, "NEST", 0, nesting), 1);
  q_send_msg_by_name("/pvd/fcp0.sif", 0x300, 0x1E00000A, request_area(1));
  ASSERT_EQ(sim_wait_idle(2000), 0);
  EXPECT_EQ(answers, 2);
  EXPECT_EQ(q_register_msg_handler(0x300, "NEST", 0, nesting), 1) << "deregistered";
  q_deregister_msg_handler(0x300);
}

// Registering again afterwards, without a second q_msg_init, is what the
// channel does on its next open (tests/unit/channel, lifecycle_test.cc).
TEST_F(Lifecycle, DoneStopsEverything) {
  Client c;
  sim_fault_delay(0x1E00000A, 300);
  ASSERT_TRUE(c.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  q_msg_done();
  EXPECT_EQ(sim_messages_outstanding(), 0u) << "the queued request was released";
  EXPECT_FALSE(c.inbox().pop(400ms));
}

TEST_F(Lifecycle, DoneFromInsideTheHandler) {
  const sim::Handler closing = [](int kind, void* message) {
    if (kind != kDriverError) q_msg_free(message);
    q_msg_done();
    inboxes[2].push(kind, nullptr);
  };
  ASSERT_EQ(q_register_msg_handler(0x500, "CLOSE", 0, closing), 1);
  sim_fault_driver_error(3);
  EXPECT_TRUE(inboxes[2].pop(2000ms));
  Client c;
  EXPECT_TRUE(c.request("/pvd/fcp0.sif", 0x1E00000A, 1024));
}

TEST_F(Lifecycle, ConcurrentRequestsLinkChangesAndEvents) {
  // Two programs send while a third thread keeps changing the model. Every
  // answer must match its request, and nothing may be left over.
  std::uint32_t events = sim_events_delivered();
  std::atomic<int> wrong{0};
  auto program = [&](int slot, std::uint32_t handle, const std::string& port) {
    Client c(slot, handle);
    for (int i = 0; i < 1000; ++i) {
      auto a = fcph(c, 0x15000020, port);  // serial number
      if (a.number != 0x15000021u || a.u32(16) != 0 || a.text(84).rfind("QS1002034", 0) != 0)
        ++wrong;
    }
  };
  std::jthread flapper([](std::stop_token stop) {
    for (int i = 0; !stop.stop_requested(); ++i) {
      sim_set_link(i % 2, 0, (i / 2) % 2);
      std::this_thread::sleep_for(100us);
    }
  });
  {
    std::jthread p1(program, 0, 0x54410001, kPort0), p2(program, 1, 0x534E0001, kPort1);
  }  // both programs done
  flapper.request_stop();
  flapper.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(sim_events_delivered(), events + 10) << "the link changes overlapped the requests";
  ASSERT_EQ(sim_wait_idle(2000), 0);
}

}  // namespace
}  // namespace simtest
