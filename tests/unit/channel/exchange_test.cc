// Matching responses to the waiting request, driver events and driver errors,
// over the simulated driver.
#include <chrono>
#include <thread>

#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;
using namespace std::chrono_literals;

// The answers come inside the send, on this thread, so that each is matched
// while its request waits however loaded the machine is.
TEST_F(ChannelTest, MismatchedAndMalformedResponsesAreDroppedAndFreed) {
  debug_ = 0x10000000;
  open(settings(150));
  sim_fault_caller_thread(FCPH_GET_PORT_SPEED, 1);
  sim_fault_caller_thread(LXS_FCP, 1);
  std::uint32_t invalid = sim_invalid_calls();
  channel_->msg_handler(1, nullptr);
  unsigned char message[qfc::kHeaderSize] = {};
  write_u32(message, qfc::kNumberOffset, FCPH_GET_PORT_SPEED + 1);
  channel_->msg_handler(1, message);
  // The message without data went back to the library (which did not know it).
  EXPECT_EQ(sim_invalid_calls(), invalid + 1);
  sim_fault_wrong_number_to(FCPH_GET_PORT_SPEED, 0x15000019);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: driver timeout");
  sim_fault_wrong_object(LXS_FCP, 1);
  EXPECT_EQ(ask(LXS_FCP, object(5, kValueUnsigned, 1)), "Error: driver timeout");
  sim_fault_wrong_object(LXS_FCP, 0);
  EXPECT_EQ(ask(LXS_FCP, object(5, kValueUnsigned, 1)), "11");

  std::string log = events_text();
  expect_once(log, {"\tResponse mis-match: got 0x15000019 / exepected 0x15000017",
                    "\tFCP Response doesn't match: got 6 / exepect 5"});
  EXPECT_EQ(occurrences(log, "unsolicited message"), 2);
  expect_once(log, {"LXS WARNG: tavro_msg_handler: msg = 0\n",
                    "LXS WARNG: tavro_msg_handler: msg->data = 0\n"});
  EXPECT_EQ(sim_wait_idle(2000), 0);
  EXPECT_EQ(sim_messages_outstanding(), 0u);
}

// A response that comes after its request timed out never reaches a reply,
// neither between requests nor while a later request of the same kind waits.
TEST_F(ChannelTest, LateResponsesChangeNothing) {
  debug_ = 0x40000 | 0x10000000;
  open(settings(1500));
  auto name_of = [](std::uint32_t id, std::uint32_t index) {
    return [=](std::uint8_t* d) {
      write_u32(d, sif::kRequestId, id);
      write_u32(d, sif::kAdapterIndex, index);
    };
  };
  // Half a second apart each way, however loaded the machine: the late answer
  // (at 2 s) arrives while the next request waits for its own (at 2.5 s, due by 3 s).
  sim_fault_delay(LXS_GET_ADAPTER_NAME, 2000);
  EXPECT_EQ(ask(LXS_GET_ADAPTER_NAME, name_of(1, 0), "/pvd/fcp0.sif"), "Error: driver timeout");
  sim_fault_delay(LXS_GET_ADAPTER_NAME, 1000);
  EXPECT_EQ(ask(LXS_GET_ADAPTER_NAME, name_of(2, 1), "/pvd/fcp1.sif"), "/pvd/pci3/fcp1");
  EXPECT_EQ(last_, Transaction::kAnswered);
  EXPECT_EQ(occurrences(events_text(), "unsolicited message"), 1);

  // Between requests the late answer finds nobody waiting.
  sim_fault_delay(FCPH_GET_PORT_SPEED, 2000);
  char reply[64] = "";
  last_ = channel_->transact({kFcphDestination, FCPH_GET_PORT_SPEED, fcph::kSize}, reply,
                             sizeof reply, [](std::uint8_t* d) {
                               write_u32(d, fcph::kNumber, FCPH_GET_PORT_SPEED);
                               hex_to_wwn(kPortA, d + 80);
                               return true;
                             });
  EXPECT_STREQ(reply, "Error: driver timeout");
  EXPECT_EQ(sim_wait_idle(3000), 0);
  EXPECT_STREQ(reply, "Error: driver timeout");
  EXPECT_EQ(occurrences(events_text(), "recv_drv_msg: wait NOT in progress (0)!"), 1);
  EXPECT_EQ(sim_messages_outstanding(), 0u);
}

// The driver's error is logged once and every later time-out reports the
// latest one.
TEST_F(ChannelTest, DriverErrorThenTimeOut) {
  open(settings(150));
  sim_fault_no_answer(FCPH_GET_PORT_SPEED, 1);
  sim_fault_driver_error_on(FCPH_GET_PORT_SPEED, 7);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: timeout: driver error(7)");
  EXPECT_EQ(channel_->driver_error(), 7u);
  sim_fault_driver_error_on(FCPH_GET_PORT_SPEED, 9);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: timeout: driver error(9)");
  std::string log = events_text();
  expect_once(log,
              {"DRV ERROR: Driver - error(7)", "DRV ERROR: Driver",
               "LXS ERROR: Message timeout - error(7)", "LXS ERROR: Message timeout - error(9)"});
}

// Events (events.txt) go to the event log at their level, also while a request waits,
// which they do not end.
TEST_F(ChannelTest, DriverEventsGoToTheEventLogAtTheirLevel) {
  const auto events = tavro::testing::read_rows("unit/channel/events.txt");
  open();
  sim_fault_delay(FCPH_GET_PORT_SPEED, 100);
  std::thread sender([&] {
    std::this_thread::sleep_for(20ms);
    for (const auto& e : events) sim_send_event(std::stoul(e.at(0)), e.at(1).c_str());
  });
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "4");
  sender.join();
  EXPECT_EQ(sim_set_link(0, 0, 0), 0);
  EXPECT_EQ(sim_wait_idle(2000), 0);
  std::string log = events_text();
  for (const auto& e : events) EXPECT_EQ(occurrences(log, e.at(2) + "\n"), 1) << e.at(2);
  EXPECT_EQ(occurrences(log, "DRV WARNG: Link down on adapter /pvd/pci2/dev5/fcp0"), 1);
  // The link state read afterwards follows the model.
  EXPECT_EQ(ask(FCPH_GET_LINK_STATE, port(kPortA)), "2");
  EXPECT_EQ(sim_wait_idle(2000), 0);
  EXPECT_EQ(sim_messages_outstanding(), 0u);
}

}  // namespace
}  // namespace channel_test
