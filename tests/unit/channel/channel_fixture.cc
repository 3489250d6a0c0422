#include "tests/unit/channel/channel_fixture.h"

#include <fstream>

#include "daemon/text.h"

namespace channel_test {

void put_wwn(std::uint8_t* data, std::size_t offset, const char* hex) {
  tavro::hex_to_wwn(hex, data + offset);
}

namespace {

std::string prepared_dir() {
  std::string dir = tavro::testing::make_temp_dir();
  tavro::testing::write_file(dir + "/events.log", "");
  tavro::testing::write_file(dir + "/requests.log", "");
  return dir;
}

}  // namespace

ChannelTest::ChannelTest()
    : dir_(prepared_dir()),
      event_path_(dir_ + "/events.log"),
      request_path_(dir_ + "/requests.log") {
  diag_.attach_logs(&events_, &requests_);
  diag_.set_stdout(false);
}

void ChannelTest::SetUp() {
  ASSERT_NE(sim().module, nullptr);
  ASSERT_EQ(sim().load_model_json(kTestModel), 0);
  events_.open();
  requests_.open("start\n");
}

void ChannelTest::TearDown() {
  channel_.reset();
  sim().clear_faults();
}

tavro::ChannelSettings ChannelTest::settings(int timeout_ms) {
  tavro::ChannelSettings s;
  s.request_timeout_ms = timeout_ms;
  return s;
}

tavro::Channel& ChannelTest::open(tavro::ChannelSettings s) {
  channel_ = std::make_unique<tavro::Channel>(diag_, events_, &requests_, s);
  channel_->qdn_open();
  return *channel_;
}

// What every request of the programs carries and the driver checks, where a
// test's fill left it out: the number echo of a port or node request and a
// request identifier.
void ChannelTest::stamp(std::uint32_t number, std::uint8_t* data) {
  auto unset = [&](std::size_t at) { return tavro::read_u32(data, at) == 0; };
  if (number >> 24 == 0x15 && unset(12)) tavro::write_u32(data, 12, number);
  long id_at = -1;
  if (number == 0x0B00001E) id_at = 12;
  if (number >= 0x1E00000A && number <= 0x1E000011) id_at = 0;
  if (number == 0x14000015 || number == 0x14000016) id_at = 0;
  if (id_at >= 0 && unset(static_cast<std::size_t>(id_at))) {
    tavro::write_u32(data, static_cast<std::size_t>(id_at), channel_->next_request_id());
  }
}

std::string ChannelTest::ask(std::uint32_t number, const std::function<void(std::uint8_t*)>& fill,
                             const char* destination, bool read) {
  const tavro::RequestRow* row = tavro::find_request(number);
  EXPECT_NE(row, nullptr) << std::hex << number;
  if (row == nullptr) return {};
  char reply[4096] = "unchanged";
  if (read) reply[0] = '\0';
  last_ = channel_->transact(
      {destination != nullptr ? destination : row->destination, number, row->size}, reply,
      sizeof reply, [&](std::uint8_t* data) {
        fill(data);
        stamp(number, data);
        return true;
      });
  return reply;
}

std::string ChannelTest::tell(std::uint32_t number,
                              const std::function<void(std::uint8_t*)>& fill) {
  return ask(number, fill, nullptr, false);
}

std::string ChannelTest::events_text() {
  events_.settle_repeats();
  return tavro::testing::read_file(event_path_);
}

std::string ChannelTest::requests_text() {
  return tavro::testing::read_file(request_path_);
}

int ChannelTest::count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

}  // namespace channel_test
