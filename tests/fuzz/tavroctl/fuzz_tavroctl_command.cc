// A whole tavroctl command against a fake peer whose replies come from the
// input: the first byte picks the command (and --json), then one reply per
// request, separated by 0xFF; an empty reply is a connection closed without
// one, 0xFE alone a time-out. Whatever the peer says, the command ends with
// one of the exit statuses, one line on standard error when it fails, no
// document on standard output then, valid JSON otherwise, and no control
// characters on the terminal.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tavroctl/commands.h"

namespace {

// clang-format off
const std::vector<std::vector<std::string>> kCommands = {{"status"}, {"adapters"}, {"ports"},
    {"targets"}, {"stats"}, {"stats", "0:0"}, {"log"}, {"config"}, {"get", "3.1.0"},
    {"set", "3.5.1.5.2100000000000A01", "1"}, {"metrics"}};
// clang-format on

bool shows_controls(const std::string& text) {
  for (char c : text)
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavroctl;
  if (size == 0) return 0;
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Options o;
  o.words = kCommands[data[0] % kCommands.size()];
  o.json = (data[0] & 0x80) != 0 && o.words[0] != "metrics";
  o.transport = [&input](const std::string&, Client::Clock::time_point) -> Reply {
    const std::size_t end = input.find('\xFF');
    const std::string reply = input.substr(0, end);
    input.erase(0, end == std::string::npos ? input.size() : end + 1);
    if (reply == "\xFE") return {Outcome::kNoReply, "no reply"};
    if (reply.empty()) return {Outcome::kNoReply, "connection closed without a reply"};
    return {Outcome::kOk, reply};
  };
  std::ostringstream out, err;
  const int status = run(o, out, err);
  const std::string printed = out.str(), errors = err.str();
  if (status < 0 || status > 5 || status == 2) __builtin_trap();
  if (status != 0 && (errors.find('\n') + 1 != errors.size())) __builtin_trap();
  if (o.json && status != 0 && !printed.empty()) __builtin_trap();
  if (o.json && status == 0 && !nlohmann::json::accept(printed)) __builtin_trap();
  if (shows_controls(printed) || shows_controls(errors)) __builtin_trap();
  return 0;
}
