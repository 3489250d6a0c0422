// Object handlers in process, over a channel to the simulated driver, where
// the simulator's counters show what reached the driver.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "base/diag.h"
#include "channel/channel.h"
#include "eventlog/event_log.h"
#include "objects/qdn_oid.h"
#include "sim/sim_control.h"

namespace tavro {
namespace {

const std::string kAgent = ".1.3.6.1.4.1.48217.3.";
const std::string kPort = "210000E08B010203";
const std::string kNode = "200000E08B010203";

struct CapturedReply final : ReplySink {
  int reply(const char* text) override {
    text_ = text;
    ++replies_;
    return 0;
  }
  std::string text_;
  int replies_ = 0;
};

class ObjectHandlers : public ::testing::Test {
 protected:
  void SetUp() override { sim_reset(); }

  std::string get(const std::string& object) {
    CapturedReply sink;
    std::string oid = kAgent + object;
    qdn_oid(services_, sink, kNoConnection, oid.c_str(), kAgentBranch, oid_get_table);
    EXPECT_EQ(sink.replies_, 1) << object;
    return sink.text_;
  }

  std::int32_t debug_ = 0;
  std::int32_t log_mode_ = 0;
  std::int32_t log_flags_ = 0;
  Diag diag_{debug_};
  EventLog events_{{"", log_mode_, log_flags_}, &diag_};
  Channel channel_{diag_, events_, nullptr, ChannelSettings{.request_timeout_ms = 200}};
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  ObjectServices services_{channel_, diag_, events_, nullptr, start_};
};

// Resolution opens the channel on demand; an invalid instance of an LXS
// object sends nothing.
TEST_F(ObjectHandlers, CounterPairAsksTheSecondObjectAfterTheFirstFails) {
  EXPECT_FALSE(channel_.channel_open());
  ASSERT_EQ(get("3.5.1.3." + kPort), "2");
  EXPECT_TRUE(channel_.channel_open());
  std::uint32_t sent = sim_requests_received();
  EXPECT_EQ(get("4.4.1.6"), "Error: Invalid OID length(" + kAgent + "4.4.1.6)");
  EXPECT_EQ(sim_requests_received(), sent);
  sim_fault_lxs_status(LXS_FCP, 5);
  sent = sim_requests_received();
  std::string pair = get("4.3.1.17." + kNode);
  EXPECT_EQ(sim_requests_received() - sent, 3u);  // and then whether the node is there
  EXPECT_EQ(pair.substr(0, 12), "-1|-1|-1|-1|") << pair;
  sim_fault_lxs_status(LXS_FCP, 0);
  pair = get("4.3.1.18." + kNode);
  EXPECT_NE(pair.substr(0, 3), "-1|") << pair;
}

// 4.3.1.17 pairs objects 6 and 5 (sequences), 4.3.1.18 objects 8 and 7
// (bytes), received first, then two unused fields and the clock. The counters
// grow with time, so each half must lie between its object's values read
// before and after.
TEST_F(ObjectHandlers, CounterPairsJoinTheirObjectsInOrder) {
  struct {
    const char* pair;
    const char* first;
    const char* second;
  } const rows[] = {{"4.3.1.17.", "4.4.1.7.", "4.4.1.6."}, {"4.3.1.18.", "4.4.1.9.", "4.4.1.8."}};
  auto number = [&](const std::string& object) { return std::stoull(get(object + kNode)); };
  for (const auto& row : rows) {
    unsigned long long first_before = number(row.first), second_before = number(row.second);
    std::string pair = get(row.pair + kNode);
    unsigned long long first_after = number(row.first), second_after = number(row.second);
    ASSERT_TRUE(first_after < second_before || second_after < first_before) << row.pair;
    std::size_t bar = pair.find('|');
    unsigned long long first = std::stoull(pair), second = std::stoull(pair.substr(bar + 1));
    EXPECT_TRUE(first_before <= first && first <= first_after) << pair;
    EXPECT_TRUE(second_before <= second && second <= second_after) << pair;
    EXPECT_EQ(pair.substr(pair.find('|', bar + 1), 7), "|-1|-1|") << pair;
  }
}

}  // namespace
}  // namespace tavro
