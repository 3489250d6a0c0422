// The rendezvous and the response rows, driven directly: a request waits on
// this thread while a second thread plays the library's delivery thread.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>
#include <vector>

#include "channel/catalogue.h"
#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;
using namespace std::chrono_literals;

class RendezvousTest : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    channel_ = std::make_unique<Channel>(diag_, events_, &requests_, settings(timeout_ms_));
  }

  // Waits for one request while deliver() runs on another thread.
  std::string wait_for(const std::function<void()>& deliver, const char* start = "") {
    char reply[256];
    std::snprintf(reply, sizeof reply, "%s", start);
    channel_->prepare_wait();
    channel_->set_reply_text(reply, sizeof reply);
    std::thread delivery(deliver);
    last_ = channel_->wait_on_send(reply, sizeof reply);
    delivery.join();
    return reply;
  }

  // One response row applied to a data area of the row's size.
  std::string row_reply(std::uint32_t number, const std::function<void(std::uint8_t*)>& fill,
                        const ResponseRow* table = tavro_responses, const char* start = "") {
    const ResponseRow* row = find_response(table, number);
    EXPECT_NE(row, nullptr) << std::hex << number;
    if (row == nullptr) return {};
    std::vector<std::uint8_t> data(row->size != 0 ? row->size : 256);
    fill(data.data());
    return wait_for([&] { row->deliver(*channel_, *row, data.data()); }, start);
  }

  static auto at(std::size_t offset, std::uint32_t value) {
    return [=](std::uint8_t* d) { write_u32(d, offset, value); };
  }

  static auto object(std::uint32_t id, std::uint32_t status) {
    return [=](std::uint8_t* d) {
      write_u32(d, lxs::kObjectId, id);
      write_u32(d, lxs::kStatus, status);
      write_u32(d, lxs::kType, kValueSigned);
      write_u32(d, lxs::kCount, 1);
    };
  }

  int timeout_ms_ = 100;
};

// Values the simulated driver does not give (catalogue_test.cc asks the others).
TEST_F(RendezvousTest, MappedValuesOfTheCatalogue) {
  EXPECT_EQ(row_reply(FCPH_GET_LINK_STATE + 1, at(92, 5)), "1");
  EXPECT_EQ(row_reply(FCPH_GET_SUPPORTED_CLASSES + 1, at(96, 35)), "08");
  EXPECT_EQ(row_reply(FCPH_GET_REMOTE_NODE_CLASS + 1, at(92, 4)), "10");
  EXPECT_EQ(row_reply(FCPH_GET_PORT_TOPOLOGY + 1, at(84, 3)), "3");
  EXPECT_EQ(row_reply(FCPH_GET_PORT_USR_TOPOLOGY + 1, at(84, 0)), "2");
  EXPECT_EQ(row_reply(FCPH_GET_PORT_STATE + 1, at(84, 9)), "1");
  EXPECT_EQ(row_reply(LXS_GET_REMNODE_BLOCKED | kResponseBit, at(20, 3)), "3");
  EXPECT_EQ(row_reply(HPD_LTX_DUPLEX_STATUS | kResponseBit, at(4, 0xFFFFFFC8)), "200");
  EXPECT_EQ(row_reply(FCPH_GET_FC_ADDRESS + 1, at(92, 0xFFFFFF)), "FFFFFF");
  EXPECT_EQ(count(events_text(), "out of range"), 0);
  EXPECT_EQ(row_reply(FCPH_GET_REMOTE_NODE_FCADDR + 1, at(92, 0x12345678)), "12345678");
  EXPECT_EQ(count(events_text(), "**** remote_node_fcaddr out of range: 0x12345678"), 1);
}

TEST_F(RendezvousTest, AgentEncodings) {
  auto agent = [&](std::uint32_t number, std::size_t offset, std::uint32_t value) {
    return row_reply(number, at(offset, value), stdagent_responses);
  };
  EXPECT_EQ(agent(FCPH_GET_PORT_SPEED + 1, 84, 1), "13000");
  EXPECT_EQ(agent(FCPH_GET_PORT_SPEED + 1, 84, 32), "400000");
  EXPECT_EQ(agent(FCPH_GET_PORT_SPEED + 1, 84, 3), "1");
  EXPECT_EQ(agent(FCPH_GET_PORT_TOPOLOGY + 1, 84, 3), "8");
  EXPECT_EQ(agent(FCPH_GET_PHYS_TYPE + 1, 92, 3), "4");
  EXPECT_EQ(agent(FCPH_GET_PHYS_TYPE + 1, 92, 9), "1");
  EXPECT_EQ(agent(FCPH_GET_CONNECTOR_TYPE + 1, 92, 4), "6");
  EXPECT_EQ(agent(FCPH_GET_RX_BYTES + 1, 92, 0xABCDEF), "          ABCDEF");
  EXPECT_EQ(find_response(stdagent_responses, FCPH_GET_PORT_VENDOR + 1), nullptr);
  EXPECT_EQ(find_response(stdagent_responses, LXS_FCP_RESP), nullptr);
}

TEST_F(RendezvousTest, FailedObjectResponsesAnswerWithTheirErrorText) {
  EXPECT_EQ(row_reply(LXS_FCP_RESP, object(99, 7)), "Error:  Unknown object: Unknown status");
  EXPECT_EQ(row_reply(LXS_FCP_RESP, object(13 | lxs::kWriteBit, 2)),
            "Error:  Service Class: Operation failed");
  EXPECT_EQ(row_reply(LXS_FCP_RESP, object(1, 1), tavro_responses, "x"), "0");
  EXPECT_EQ(row_reply(LXS_FCP_RESP, object(1 | lxs::kWriteBit, 0), tavro_responses, "kept"),
            "kept");
}

// A driver that leaves texts unterminated or announces more values than its
// data area holds must not make the programs read past the area.
TEST_F(RendezvousTest, ValuesAreReadWithinTheDataArea) {
  std::string text = row_reply(FCPH_GET_PORT_VENDOR + 1,
                               [](std::uint8_t* d) { std::memset(d + 84, 'v', fcph::kSize - 84); });
  EXPECT_EQ(text, std::string(fcph::kSize - 84, 'v'));
  std::string many = row_reply(LXS_FCP_RESP, [](std::uint8_t* d) {
    write_u32(d, lxs::kObjectId, 5);
    write_u32(d, lxs::kType, kValueUnsigned);
    write_u32(d, lxs::kCount, 100000);
  });
  EXPECT_EQ(count(many, ":") + 1, static_cast<int>((lxs::kSize - lxs::kValue) / 4));
}

TEST_F(RendezvousTest, AResponseHeldBackDuringTheSendCompletesTheWait) {
  timeout_ms_ = 5000;
  SetUp();
  char reply[64] = "";
  channel_->prepare_wait();  // the mutex is held from here through the send
  channel_->set_reply_text(reply, sizeof reply);
  std::uint32_t value = 42;
  std::thread delivery([&] { channel_->recv_drv_msg(&value, 1, kValueUnsigned, false, 4); });
  std::this_thread::sleep_for(20ms);  // the delivery now waits for the mutex
  EXPECT_STREQ(reply, "");
  EXPECT_EQ(channel_->wait_on_send(reply, sizeof reply), Transaction::kAnswered);
  delivery.join();
  EXPECT_STREQ(reply, "42");
}

TEST_F(RendezvousTest, TimeOutsAndLateResponses) {
  debug_ = 0x40000;
  std::uint32_t late = 99;
  EXPECT_EQ(wait_for([] {}), "Error: driver timeout");
  EXPECT_EQ(last_, Transaction::kTimedOut);
  char reply[64] = "Error: driver timeout";
  channel_->recv_drv_msg(&late, 1, kValueUnsigned, false, 4);
  EXPECT_STREQ(reply, "Error: driver timeout");
  std::string log = events_text();
  EXPECT_EQ(count(log, "ERROR: Message timeout\n"), 1);
  EXPECT_EQ(count(log, "recv_drv_msg: wait NOT in progress (0)!"), 1);

  // The next request is not disturbed.
  EXPECT_EQ(wait_for([&] { channel_->recv_drv_msg(&late, 1, kValueUnsigned, false, 4); }), "99");
  RendezvousStats s = channel_->stats();
  EXPECT_EQ(s.ok_total, 1u);
  EXPECT_EQ(s.timeout_total, 1u);
  EXPECT_EQ(s.timeout_run, 0u);
}

TEST_F(RendezvousTest, DriverErrorIsLoggedOnceAndReportedByEveryTimeOut) {
  channel_->msg_handler(qfc::kDriverErrorKind, reinterpret_cast<void*>(std::uintptr_t{7}));
  EXPECT_EQ(wait_for([] {}), "Error: timeout: driver error(7)");
  channel_->msg_handler(qfc::kDriverErrorKind, reinterpret_cast<void*>(std::uintptr_t{9}));
  EXPECT_EQ(wait_for([] {}), "Error: timeout: driver error(9)");
  std::string log = events_text();
  EXPECT_EQ(count(log, "DRV ERROR: Driver - error(7)"), 1);
  EXPECT_EQ(count(log, "DRV ERROR: Driver"), 1);
  EXPECT_EQ(count(log, "LXS ERROR: Message timeout - error(7)"), 1);
  EXPECT_EQ(count(log, "LXS ERROR: Message timeout - error(9)"), 1);
}

TEST_F(RendezvousTest, TheFirstTimedRequestReportsItsOwnTimeAsMinMaxAndAverage) {
  debug_ = 0x20000000;
  std::uint32_t value = 1;
  wait_for([&] {
    std::this_thread::sleep_for(15ms);
    channel_->recv_drv_msg(&value, 1, kValueUnsigned, false, 4);
  });
  EXPECT_EQ(last_, Transaction::kAnswered);
  std::smatch m;
  std::string log = events_text();
  ASSERT_TRUE(std::regex_search(
      log, m, std::regex(R"(Request took (\d+)\.(\d{3})s min/max/avg: (\d+)/(\d+)/(\d+)ms)")));
  int elapsed = std::stoi(m[1]) * 1000 + std::stoi(m[2]);
  EXPECT_GE(elapsed, 15);
  EXPECT_EQ(std::stoi(m[3]), elapsed);
  EXPECT_EQ(std::stoi(m[4]), elapsed);
  EXPECT_EQ(std::stoi(m[5]), elapsed);
}

}  // namespace
}  // namespace channel_test
