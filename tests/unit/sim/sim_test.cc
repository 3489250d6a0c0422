// What the simulator alone decides; the value of each request is checked
// through a channel in tests/unit/channel and end to end.
#include <atomic>

#include "tests/support/daemon_process.h"
#include "tests/unit/sim/sim_client.h"

namespace simtest {
namespace {

using Sim = SimTest;

TEST_F(Sim, CountersGrowWhileTheLinkIsUpAndStopWhileDown) {
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

// A port WWN already in use is refused; a renamed port loses its old WWN.
TEST_F(Sim, APortWwnInUseIsRefused) {
  Client c;
  auto rename = [&](const std::string& to) {
    return c.request("fcph", 0x15000082, 256, [&](std::uint8_t* d) {
      put_wwn(d, 80, kPort0);
      put_wwn(d, 88, to);
    });
  };
  EXPECT_EQ(rename(kPort1).u32(16), 7u);
  EXPECT_EQ(rename("210000E08B0A0B0C").u32(16), 0u);
  EXPECT_EQ(fcph(c, 0x15000016, kPort0).u32(16), 2u);
}

// The target ID of a pair the adapter does not see has status 2 (its last
// word); an LXS object of an unknown node is refused in tests/e2e/objects.
TEST_F(Sim, WhatTheModelLacksIsRefused) {
  Client c;
  auto target = c.request("/pvd/fcp0.sif", 0x1E00000E, 256, [](std::uint8_t* d) {
    put_wwn(d, 4, "200000E08B010203");
    put_wwn(d, 12, "20000011C6778899");  // seen by the second adapter only
  });
  EXPECT_EQ(target.u32(252), 2u);
}

TEST_F(Sim, DelayedAnswerDoesNotHoldBackALaterRequest) {
  // The late answer arrives after the next request's.
  Client c;
  sim_fault_delay(0x15000016, 400);
  ASSERT_TRUE(c.send("fcph", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); }));
  EXPECT_EQ(fcph(c, 0x15000018, kPort0).number, 0x15000019u);
  EXPECT_EQ(c.wait_answer(256).number, 0x15000017u);
  // Still queued when the test ends: q_msg_done releases it.
  ASSERT_TRUE(c.send("fcph", 0x15000016, 256, [](std::uint8_t* d) { put_wwn(d, 80, kPort0); }));
}

TEST_F(Sim, MalformedRequestsAreRefusedUnanswered) {
  // Only in the driver's layout: the area's size, the number echo of a port
  // or node request, a request identifier where the layout has one.
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

// A handle is registered once at a time; deregistration waits for a delivery
// in progress, and an answer that comes after it is dropped.
TEST_F(Sim, RegistrationsAndADeliveryInProgress) {
  static std::atomic<bool> in_handler{false}, done{false};
  const sim::Handler slow = [](int kind, void* message) {
    in_handler = true;
    std::this_thread::sleep_for(200ms);
    if (kind != kDriverError) q_msg_free(message);
    done = true;
  };
  ASSERT_EQ(q_register_msg_handler(0x200, "SLOW", 0, slow), 1);
  EXPECT_EQ(q_register_msg_handler(0x200, "SLOW", 0, slow), 0) << "already registered";
  EXPECT_EQ(q_register_msg_handler(0x201, "NONE", 0, nullptr), 0);
  sim_fault_driver_error(1);
  while (!in_handler) std::this_thread::sleep_for(1ms);
  q_deregister_msg_handler(0x200);
  EXPECT_TRUE(done) << "returned while the handler still ran";
  EXPECT_EQ(q_register_msg_handler(0x200, "SLOW", 0, slow), 1) << "free again";
  q_deregister_msg_handler(0x200);
  {
    Client gone;
    sim_fault_delay(0x1E00000A, 100);
    ASSERT_TRUE(gone.send("/pvd/fcp0.sif", 0x1E00000A, 1024));
  }  // deregistered before its answer is due: the answer is dropped and freed
  ASSERT_EQ(sim_wait_idle(2000), 0);
  EXPECT_EQ(sim_messages_outstanding(), 0u);
}

// bad_models.txt: a model, a tab, part of the error text.
TEST_F(Sim, BadModelsAreRefusedWithAClearErrorAndOptionalFieldsHaveDefaults) {
  Client c;
  for (const auto& row : tavro::testing::read_rows("unit/sim/bad_models.txt")) {
    const std::string &json = row.at(0), &message = row.at(1);
    SCOPED_TRACE(message);
    EXPECT_EQ(sim_load_model_json(json.c_str()), -1);
    const std::string error = sim_last_error();
    EXPECT_NE(error.find(message), std::string::npos) << error;
    EXPECT_EQ(c.request("/pvd/fcp0.sif", 0x1E00000A, 1024).u32(4), 2u) << "the default model";
  }
  // A model without the optional fields takes their defaults.
  ASSERT_EQ(sim_load_model_json(R"({"adapters":[{"name":"a","node_wwn":"2000000000000001",)"
                                R"("ports":[{"wwn":"2100000000000001"}]}]})"),
            0)
      << sim_last_error();
  auto info = c.request("a", 0x14000014, 512, [](std::uint8_t* d) { put32(d, 0, 2); });
  EXPECT_EQ(std::string(info.data.begin() + 8, info.data.begin() + 12), std::string("PCI\0", 4));
}

}  // namespace
}  // namespace simtest
