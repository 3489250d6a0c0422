// Malformed requests of every command against a daemon with every command
// and both logs enabled: after each batch REV is still answered, and at the
// end every line of both logs is a well-formed record.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const char* const kCommands[] = {"REV",
                                 "ECHO ",
                                 "STATS ",
                                 "CONFIG ",
                                 "LOGSIZE",
                                 "LOGREAD ",
                                 "GET /",
                                 "GET /HTDEBUG?",
                                 "FCGET .1.3.6.1.4.1.48217.",
                                 "FCSET .1.3.6.1.4.1.48217.",
                                 "HBAAPI "};

// One malformed form of the command, picked by the round number.
std::string malformed(const std::string& command, int round, std::mt19937& rng) {
  std::string tail(1 + rng() % 64, '\0');
  for (char& c : tail) c = static_cast<char>(rng());
  switch (round % 6) {
    case 0:  // binary after the command word
      return command + tail;
    case 1:  // NUL bytes inside
      return command + std::string("1.2\0.3 4", 8) + tail;
    case 2:  // far beyond the message size
      return command + std::string(6000 + rng() % 4000, static_cast<char>('0' + rng() % 40));
    case 3:  // numbers that fit nowhere
      return command + "99999999999999999999.-1.0x7fffffffffffffff 18446744073709551616\n";
    case 4:  // separators and escapes only
      return command + "%%%00%ff....||||  \t;;;" + tail.substr(0, 8) + "\r\n";
    default:  // cut short
      return command.substr(0, rng() % (command.size() + 1));
  }
}

void expect_records(const std::string& path) {
  static const std::regex record(
      R"(([A-Z][a-z]{2} [ 0-9][0-9] \d\d:\d\d:\d\d \d{4}[: ].*)|(\*{5} .*))");
  std::string text = read_file(path);
  ASSERT_FALSE(text.empty()) << path;
  EXPECT_EQ(text.find('\0'), std::string::npos) << path;
  EXPECT_EQ(text.back(), '\n') << path;
  std::istringstream lines(text);
  int count = 0;
  std::string previous;
  for (std::string line; std::getline(lines, line); ++count, previous = line) {
    EXPECT_TRUE(std::regex_match(line, record))
        << path << " line " << count << ": " << line << "\nafter: " << previous;
  }
}

TEST(BadInput, EveryCommandSurvivesMalformedRequestsAndTheLogsStayWellFormed) {
  std::string dir = make_temp_dir();
  write_file(dir + "/index.html", "<html>tavro</html>\n");
  write_file(dir + "/requests.log", "");  // the logs are opened, not created
  write_file(dir + "/events.log", "");
  DaemonOptions options{.args = {"-base", dir, "-log", dir + "/requests.log", "-lf", "0xFFFFFFFF",
                                 "-fclog", dir + "/events.log", "-fclf", "0xFF", "-rxto", "1"}};
  for (const char* flag : {"-fcget", "-fcset", "-api", "-debug", "-conf"}) {
    options.args.insert(options.args.end(), {flag, "enabled"});
  }
  DaemonProcess d(options);
  ASSERT_EQ(request(d.port(), "FCSET .1.3.6.1.4.1.48217.3.5.3.0 1 2 bad#input+begins 0\n"), "ok");
  std::mt19937 rng(20261207);
  for (const char* command : kCommands) {
    for (int round = 0; round < 30; ++round) {
      std::string text = malformed(command, round, rng);
      if (round % 10 != 9) {
        request(d.port(), text);
      } else if (int s = connect_to(d.port()); s >= 0) {  // half a request, then a reset
        send_text(s, text.substr(0, text.size() / 2));
        close_with_reset(s);
      }
    }
    ASSERT_EQ(request(d.port(), "REV"), "3.3 Build 43") << "after " << command;
  }
  EXPECT_TRUE(d.running());
  expect_records(dir + "/requests.log");
  expect_records(dir + "/events.log");
}

}  // namespace
}  // namespace tavro::testing
