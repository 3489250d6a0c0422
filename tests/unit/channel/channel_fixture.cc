#include "tests/unit/channel/channel_fixture.h"

namespace channel_test {
namespace {

// What every request of the programs carries and the driver checks, where a
// test's fill left it out: the number echo of a port or node request and a
// request identifier.
void stamp(tavro::Channel& channel, std::uint32_t number, std::uint8_t* data) {
  auto unset = [&](std::size_t at) { return tavro::read_u32(data, at) == 0; };
  if (number >> 24 == 0x15 && unset(12)) tavro::write_u32(data, 12, number);
  const bool at0 = (number >= 0x1E00000A && number <= 0x1E000011) || number == 0x14000015 ||
                   number == 0x14000016;
  const std::size_t id_at = at0 ? 0 : 12;
  if ((at0 || number == 0x0B00001E) && unset(id_at))
    tavro::write_u32(data, id_at, channel.next_request_id());
}

}  // namespace

std::string ChannelTest::ask(std::uint32_t number, const std::function<void(std::uint8_t*)>& fill,
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
