#include "tests/unit/channel/channel_fixture.h"

#include "sim/layout.h"

namespace channel_test {
namespace {

// Where a test's fill left them 0: the number echo of a port or node request
// and the request identifier, which every request of the programs carries.
void stamp(tavro::Channel& channel, std::uint32_t number, std::uint8_t* data) {
  auto unset = [&](long at) { return at >= 0 && tavro::read_u32(data, std::size_t(at)) == 0; };
  if (sim::is_fcph(number) && unset(sim::kFcphNumberEcho))
    tavro::write_u32(data, sim::kFcphNumberEcho, number);
  if (long at = sim::request_id_offset(number); unset(at))
    tavro::write_u32(data, std::size_t(at), channel.next_request_id());
}

}  // namespace

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
        stamp(*channel_, number, data);
        return true;
      });
  return reply;
}

}  // namespace channel_test
