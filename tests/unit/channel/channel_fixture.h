// Test bed for the driver message channel: a channel over the simulated
// driver (loaded by name like the programs do, and linked for its control
// functions), with its own event log and request log in a fresh directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "base/diag.h"
#include "base/text.h"
#include "channel/catalogue.h"
#include "channel/channel.h"
#include "eventlog/event_log.h"
#include "eventlog/request_log.h"
#include "sim/sim_control.h"
#include "tests/support/daemon_process.h"

namespace channel_test {

// model.json: two adapters. The first has one port that sees one remote
// node; the second has a disabled port and a port with an address out of range.

inline constexpr const char* kPortA = "210000E08B000001";
inline constexpr const char* kPortDisabled = "210000E08B000002";
inline constexpr const char* kNodeA = "200000E08B000001";
inline constexpr const char* kRemote = "2000002037000001";

// Fills an FCPH request for the port (or node) with this WWN.
inline auto port(const char* wwn) {
  return [wwn](std::uint8_t* d) { tavro::hex_to_wwn(wwn, d + 80); };
}

// Fills an LXS object message about the remote node of node A (a response
// also carries a status).
inline auto object(std::uint32_t id, int type, int count, std::uint32_t status = 0) {
  return [=](std::uint8_t* d) {
    tavro::write_u32(d, tavro::lxs::kObjectId, id);
    tavro::write_u32(d, tavro::lxs::kStatus, status);
    tavro::write_u32(d, tavro::lxs::kType, static_cast<std::uint32_t>(type));
    tavro::write_u32(d, tavro::lxs::kCount, static_cast<std::uint32_t>(count));
    tavro::hex_to_wwn(kNodeA, d + tavro::lxs::kNodeWwn);
    tavro::hex_to_wwn(kRemote, d + tavro::lxs::kRemoteWwn);
  };
}

using tavro::testing::occurrences;

// Each of lines stands in text exactly once.
inline void expect_once(const std::string& text, std::initializer_list<std::string> lines) {
  for (const std::string& line : lines) EXPECT_EQ(occurrences(text, line), 1) << line;
}

class ChannelTest : public ::testing::Test {
 protected:
  ChannelTest() {
    diag_.attach_logs(&events_, &requests_);
    diag_.set_stdout(false);
  }
  void SetUp() override {
    ASSERT_EQ(sim_load_model_json(tavro::testing::test_data("unit/channel/model.json").c_str()), 0);
    tavro::testing::write_file(event_path_, "");
    tavro::testing::write_file(request_path_, "");
    events_.open();
    requests_.open("start\n");
  }
  void TearDown() override {
    channel_.reset();
    sim_clear_faults();
  }

  static tavro::ChannelSettings settings(int timeout_ms = 3000) {
    return {.request_timeout_ms = timeout_ms};
  }
  tavro::Channel& open(tavro::ChannelSettings s = settings()) {
    channel_ = std::make_unique<tavro::Channel>(diag_, events_, &requests_, s);
    channel_->qdn_open();
    return *channel_;
  }

  // One request of the catalogue; the destination defaults to the
  // catalogue's.
  std::string ask(std::uint32_t number, const std::function<void(std::uint8_t*)>& fill,
                  const char* destination = nullptr);
  std::string events_text() {
    events_.settle_repeats();
    return tavro::testing::read_file(event_path_);
  }

  std::string dir_ = tavro::testing::make_temp_dir();
  std::string event_path_ = dir_ + "/events.log";
  std::string request_path_ = dir_ + "/requests.log";
  std::int32_t debug_ = 0;
  std::int32_t mode_ = 0;
  std::int32_t event_flags_ = 0x1F;
  std::int32_t request_flags_ = 0x1;
  tavro::Diag diag_{debug_};
  tavro::EventLog events_{{event_path_.c_str(), mode_, event_flags_}, &diag_};
  tavro::RequestLog requests_{{request_path_.c_str(), mode_, request_flags_}, &diag_};
  std::unique_ptr<tavro::Channel> channel_;
  tavro::Transaction last_ = tavro::Transaction::kAnswered;
};

// What every request of the programs carries and the driver checks, where a
// test's fill left it out: the number echo of a port or node request and a
// request identifier.
inline void stamp(tavro::Channel& channel, std::uint32_t number, std::uint8_t* data) {
  auto unset = [&](std::size_t at) { return tavro::read_u32(data, at) == 0; };
  if (number >> 24 == 0x15 && unset(12)) tavro::write_u32(data, 12, number);
  const bool at0 = (number >= 0x1E00000A && number <= 0x1E000011) || number == 0x14000015 ||
                   number == 0x14000016;
  const std::size_t id_at = at0 ? 0 : 12;
  if ((at0 || number == 0x0B00001E) && unset(id_at))
    tavro::write_u32(data, id_at, channel.next_request_id());
}

inline std::string ChannelTest::ask(std::uint32_t number,
                                    const std::function<void(std::uint8_t*)>& fill,
                                    const char* destination) {
  const tavro::RequestRow* row = tavro::find_request(number);
  EXPECT_NE(row, nullptr) << std::hex << number;
  if (row == nullptr) return {};
  char reply[4096] = "";
  last_ = channel_->transact(
      {destination != nullptr ? destination : row->destination, number, row->size}, reply,
      sizeof reply, [&](std::uint8_t* data) {
        fill(data);
        stamp(*channel_, number, data);
        return true;
      });
  return reply;
}

}  // namespace channel_test
