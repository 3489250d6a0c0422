// Registration, delivery thread, clean-up and thread safety of the library.
#include <atomic>

#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Lifecycle = SimTest;

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
