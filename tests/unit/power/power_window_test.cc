// The power-management window: class and window creation, the window
// procedure's power events and its message trace.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "daemon/power.h"
#include "platform/message_loop.h"
#include "platform/window.h"
#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

using namespace tavro;

class PowerWindowTest : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    open();
    power_.emplace(PowerWindow{windows_, *channel_, events_, diag_});
    nt4_RSMH(*power_);
    ASSERT_NE(power_->window, nullptr);
  }
  std::intptr_t send(unsigned message, std::uintptr_t wparam, std::intptr_t lparam = 0) {
    return windows_.dispatch(power_->window, message, wparam, lparam);
  }

  platform::MessageLoop loop_;
  platform::Windows windows_{loop_};
  std::optional<PowerWindow> power_;
};

using Row = std::vector<std::string>;
class PowerEventTest : public PowerWindowTest, public ::testing::WithParamInterface<Row> {};

// power_events.txt
TEST_P(PowerEventTest, SetsTheChannelAndAnswersTrue) {
  const Row& e = GetParam();
  const unsigned code = static_cast<unsigned>(std::stoul(e.at(0)));
  if (e.at(2) == "suspended") send(platform::kWmPowerBroadcast, kPbtSuspend);
  debug_ = 0x10000000;
  EXPECT_EQ(send(platform::kWmPowerBroadcast, code, 0x2A), 1);
  EXPECT_EQ(channel_->driver_state(), std::stoi(e.at(3)));
  EXPECT_EQ(channel_->channel_open(), e.at(4) == "open");
  std::string log = events_text();
  char trace[128];
  std::snprintf(trace, sizeof trace, "LXS DEBUG: WMSG: Received %s message\twP(0x%X) lP(0x2A).\n",
                e.at(1).c_str(), code);
  EXPECT_EQ(occurrences(log, trace), 1);
  EXPECT_EQ(occurrences(log, "LXS NOTCE: Received unknown Power Management message - error(9)\n"),
            code == 9 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PowerEventTest,
    ::testing::ValuesIn(tavro::testing::read_rows("unit/power/power_events.txt")),
    [](const auto& row) { return row.param.at(1); });

// Message numbers and their names in the trace: the first and last rows of
// the name table, one between and a number it lacks. Without the Debug bit
// nothing is traced. The window is created once; destroy and close end the
// loop.
TEST_F(PowerWindowTest, TracesMessagesByNameAndCloseEndsTheLoop) {
  const platform::Window* w = power_->window;
  nt4_RSMH(*power_);  // created once
  EXPECT_EQ(power_->window, w);
  EXPECT_EQ(occurrences(events_text(), "LXS DEBUG: Register for Windows Messages completed.\n"), 1);
  constexpr std::pair<unsigned, const char*> kNames[] = {
      {0, "WM_NULL"}, {74, "WM_COPYDATA"}, {275, "WM_TIMER"}, {999, "Code 0x3E7"}};
  debug_ = 0x10000000;
  for (const auto& [number, name] : kNames) {
    EXPECT_EQ(send(number, 0xAB, 0xCD), 0);
    EXPECT_EQ(occurrences(events_text(), std::string("LXS DEBUG: WMSG: Received ") + name +
                                             " message\twP(0xAB) lP(0xCD).\n"),
              1)
        << name;
  }
  debug_ = 0;
  send(3, 0);
  EXPECT_EQ(occurrences(events_text(), "WMSG:"), static_cast<int>(std::size(kNames)));
  debug_ = 0x10000000;
  EXPECT_EQ(send(platform::kWmClose, 0), 0);
  EXPECT_TRUE(power_->window->destroyed);
  EXPECT_EQ(loop_.run(), 0);
  std::string log = events_text();
  EXPECT_EQ(occurrences(log, "Received WM_CLOSE message"), 1);
  EXPECT_EQ(occurrences(log, "Received WM_DESTROY message"), 1);
  EXPECT_EQ(send(platform::kWmPowerBroadcast, kPbtSuspend), 0);  // gone
}

}  // namespace
}  // namespace channel_test
