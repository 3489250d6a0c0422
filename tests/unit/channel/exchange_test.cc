// Matching responses to the waiting request, driver events and driver errors,
// over the simulated driver.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "channel/catalogue.h"
#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;
using namespace std::chrono_literals;

auto lxs_object(std::uint32_t id) {
  return [id](std::uint8_t* d) {
    write_u32(d, lxs::kObjectId, id);
    write_u32(d, lxs::kType, kValueUnsigned);
    write_u32(d, lxs::kCount, 1);
    put_wwn(d, lxs::kNodeWwn, kNodeA);
  };
}

TEST_F(ChannelTest, MismatchedResponsesAreDroppedAndFreed) {
  debug_ = 0x10000000;
  open(settings(150));
  sim().fault_wrong_number_to(FCPH_GET_PORT_SPEED, 0x15000019);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: driver timeout");
  sim().fault_wrong_object(LXS_FCP, 1);
  EXPECT_EQ(ask(LXS_FCP, lxs_object(5)), "Error: driver timeout");
  sim().clear_faults();
  EXPECT_EQ(ask(LXS_FCP, lxs_object(5)), "11");

  std::string log = events_text();
  EXPECT_EQ(count(log, "\tResponse mis-match: got 0x15000019 / exepected 0x15000017"), 1);
  EXPECT_EQ(count(log, "\tFCP Response doesn't match: got 6 / exepect 5"), 1);
  EXPECT_EQ(count(log, "unsolicited message"), 2);
  EXPECT_EQ(sim().wait_idle(2000), 0);
  EXPECT_EQ(sim().messages_outstanding(), 0u);
}

// A response that comes after its request timed out never reaches a reply,
// neither between requests nor while a later request of the same kind waits.
TEST_F(ChannelTest, LateResponsesChangeNothing) {
  debug_ = 0x40000 | 0x10000000;
  open(settings(600));
  auto name_of = [](std::uint32_t id, std::uint32_t index) {
    return [=](std::uint8_t* d) {
      write_u32(d, sif::kRequestId, id);
      write_u32(d, sif::kAdapterIndex, index);
    };
  };
  sim().fault_delay(LXS_GET_ADAPTER_NAME, 700);
  EXPECT_EQ(ask(LXS_GET_ADAPTER_NAME, name_of(1, 0), "/pvd/fcp0.sif"), "Error: driver timeout");
  // The late answer (at 700 ms) arrives while this one waits for its own
  // (at about 1000 ms).
  sim().fault_delay(LXS_GET_ADAPTER_NAME, 400);
  EXPECT_EQ(ask(LXS_GET_ADAPTER_NAME, name_of(2, 1), "/pvd/fcp1.sif"), "/pvd/pci3/fcp1");
  EXPECT_EQ(last_, Transaction::kAnswered);
  EXPECT_EQ(count(events_text(), "unsolicited message"), 1);

  // Between requests the late answer finds nobody waiting.
  sim().fault_delay(FCPH_GET_PORT_SPEED, 700);
  char reply[64] = "";
  last_ = channel_->transact({kFcphDestination, FCPH_GET_PORT_SPEED, fcph::kSize}, reply,
                             sizeof reply, [](std::uint8_t* d) {
                               write_u32(d, fcph::kNumber, FCPH_GET_PORT_SPEED);
                               put_wwn(d, 80, kPortA);
                               return true;
                             });
  EXPECT_STREQ(reply, "Error: driver timeout");
  EXPECT_EQ(sim().wait_idle(3000), 0);
  EXPECT_STREQ(reply, "Error: driver timeout");
  EXPECT_EQ(count(events_text(), "recv_drv_msg: wait NOT in progress (0)!"), 1);
  EXPECT_EQ(sim().messages_outstanding(), 0u);
}

TEST_F(ChannelTest, DriverErrorThenTimeOut) {
  open(settings(150));
  sim().fault_driver_error_on(FCPH_GET_PORT_SPEED, 7);
  sim().fault_no_answer(FCPH_GET_PORT_SPEED, 1);
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "Error: timeout: driver error(7)");
  EXPECT_EQ(channel_->driver_error(), 7u);
  EXPECT_EQ(count(events_text(), "DRV ERROR: Driver - error(7)"), 1);
}

TEST_F(ChannelTest, DriverEventsGoToTheEventLogAtTheirLevel) {
  event_flags_ = 0x1F;
  open();
  sim().send_event(411, "event notice");
  sim().send_event(611, "event warning");
  sim().send_event(711, "event error");
  sim().send_event(811, "event alarm");
  sim().send_event(911, "event alarm too");
  sim().send_event(5, "event unknown");
  EXPECT_EQ(sim().set_link(0, 0, 0), 0);
  EXPECT_EQ(sim().wait_idle(2000), 0);
  std::string log = events_text();
  EXPECT_EQ(count(log, "DRV NOTCE: event notice\n"), 1);
  EXPECT_EQ(count(log, "DRV WARNG: event warning\n"), 1);
  EXPECT_EQ(count(log, "DRV ERROR: event error\n"), 1);
  EXPECT_EQ(count(log, "DRV ALARM: event alarm\n"), 1);
  EXPECT_EQ(count(log, "DRV ALARM: event alarm too\n"), 1);
  EXPECT_EQ(count(log, "DRV *****: event unknown\n"), 1);
  EXPECT_EQ(count(log, "DRV WARNG: Link down on adapter /pvd/pci2/dev5/fcp0"), 1);
  // The link state read afterwards follows the model.
  EXPECT_EQ(ask(FCPH_GET_LINK_STATE, port(kPortA)), "2");
  EXPECT_EQ(sim().wait_idle(2000), 0);
  EXPECT_EQ(sim().messages_outstanding(), 0u);
}

TEST_F(ChannelTest, EventsWhileARequestWaitsDoNotEndIt) {
  open(settings(3000));
  sim().fault_delay(FCPH_GET_PORT_SPEED, 100);
  std::thread events([] {
    std::this_thread::sleep_for(20ms);
    sim().send_event(611, "during the wait");
  });
  EXPECT_EQ(ask(FCPH_GET_PORT_SPEED, port(kPortA)), "4");
  events.join();
  EXPECT_EQ(sim().wait_idle(2000), 0);
  EXPECT_EQ(count(events_text(), "DRV WARNG: during the wait"), 1);
}

TEST_F(ChannelTest, MalformedDeliveriesAreLoggedAndFreed) {
  open();
  std::uint32_t invalid = sim().invalid_calls();
  channel_->msg_handler(1, nullptr);
  unsigned char message[qfc::kHeaderSize] = {};
  write_u32(message, qfc::kNumberOffset, FCPH_GET_PORT_SPEED + 1);
  channel_->msg_handler(1, message);
  std::string log = events_text();
  EXPECT_EQ(count(log, "LXS WARNG: tavro_msg_handler: msg = 0\n"), 1);
  EXPECT_EQ(count(log, "LXS WARNG: tavro_msg_handler: msg->data = 0\n"), 1);
  // The message without data went back to the library (which did not know it).
  EXPECT_EQ(sim().invalid_calls(), invalid + 1);
}

}  // namespace
}  // namespace channel_test
