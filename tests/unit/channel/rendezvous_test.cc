// The rendezvous and the response rows, driven directly: a request waits on
// this thread while a second thread plays the library's delivery thread.
#include <chrono>
#include <regex>
#include <thread>
#include <vector>

#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;
using namespace std::chrono_literals;

class RendezvousTest : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    channel_ = std::make_unique<Channel>(diag_, events_, &requests_, settings(100));
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
};

// responses.txt: the rows' replies, and the failed object responses and the
// reply text an object response leaves.
TEST_F(RendezvousTest, ResponseRowsFormTheirReplies) {
  for (const auto& row : tavro::testing::read_rows("unit/channel/responses.txt")) {
    if (row.at(0) == "object") {
      auto fill = object(std::stoul(row.at(1), nullptr, 0), std::stoi(row.at(2)),
                         std::stoi(row.at(3)), std::stoul(row.at(4)));
      EXPECT_EQ(row_reply(LXS_FCP_RESP, fill, tavro_responses, row.at(5).c_str()), row.at(6));
      continue;
    }
    const ResponseRow* table = row.at(0) == "tavro" ? tavro_responses : stdagent_responses;
    const ResponseRow* r = table;
    while (r->deliver != nullptr && (r->name == nullptr || row.at(1) != r->name)) ++r;
    ASSERT_NE(r->deliver, nullptr) << row.at(1);
    EXPECT_EQ(
        row_reply(r->number, at(std::stoul(row.at(2)), std::stoul(row.at(3), nullptr, 0)), table),
        row.at(4))
        << row.at(1) << " " << row.at(3);
  }
  // Only the remote node's address is out of range.
  EXPECT_EQ(occurrences(events_text(), "out of range"), 1);
  EXPECT_EQ(occurrences(events_text(), "**** remote_node_fcaddr out of range: 0x12345678"), 1);
  EXPECT_EQ(find_response(stdagent_responses, LXS_FCP_RESP), nullptr);
}

// A driver that leaves texts unterminated or announces more values than its
// data area holds must not make the programs read past the area.
TEST_F(RendezvousTest, ValuesAreReadWithinTheDataArea) {
  std::string text = row_reply(FCPH_GET_PORT_VENDOR + 1,
                               [](std::uint8_t* d) { std::memset(d + 84, 'v', fcph::kSize - 84); });
  EXPECT_EQ(text, std::string(fcph::kSize - 84, 'v'));
  std::string many = row_reply(LXS_FCP_RESP, object(5, kValueUnsigned, 100000));
  EXPECT_EQ(occurrences(many, ":") + 1, static_cast<int>((lxs::kSize - lxs::kValue) / 4));
}

TEST_F(RendezvousTest, AResponseHeldBackDuringTheSendCompletesTheWait) {
  channel_ = std::make_unique<Channel>(diag_, events_, &requests_, settings(5000));
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

// A time-out does not disturb the next request, whose time is reported as
// the minimum, maximum and average.
TEST_F(RendezvousTest, TimeOutThenTheFirstTimedRequestReportsItsOwnTimeAsMinMaxAndAverage) {
  EXPECT_EQ(wait_for([] {}), "Error: driver timeout");
  EXPECT_EQ(last_, Transaction::kTimedOut);
  EXPECT_EQ(occurrences(events_text(), "LXS ERROR: Message timeout\n"), 1);
  debug_ = 0x20000000;
  std::uint32_t value = 99;
  EXPECT_EQ(wait_for([&] {
              std::this_thread::sleep_for(15ms);
              channel_->recv_drv_msg(&value, 1, kValueUnsigned, false, 4);
            }),
            "99");
  EXPECT_EQ(last_, Transaction::kAnswered);
  RendezvousStats s = channel_->stats();
  EXPECT_EQ(s.ok_total, 1u);
  EXPECT_EQ(s.timeout_total, 1u);
  EXPECT_EQ(s.timeout_run, 0u);
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
