// The daemon's parts in process: text helpers, settings and the replies that
// show them, the diagnostic output and its debug page, and the web paths.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/diag.h"
#include "base/text.h"
#include "daemon/daemon.h"
#include "daemon/http.h"
#include "daemon/service_commands.h"
#include "daemon/settings.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

std::vector<std::string> tokens(std::string text, int max) {
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  char* slots[16];
  int n = string2toks(buf.data(), slots, max);
  return std::vector<std::string>(slots, slots + n);
}

using Tokens = std::vector<std::string>;

// texts.txt
TEST(TextHelpers, TokensAndOidHeadAndSkip) {
  const testing::Vars vars = {{"TAB", "\t"}, {"CR", "\r"}, {"LF", "\n"}};
  for (const auto& row : testing::read_rows("unit/daemon/texts.txt", vars)) {
    SCOPED_TRACE(row.at(0) + " " + row.at(1));
    char out[32] = "untouched";
    if (row.at(0) == "tokens") {
      EXPECT_EQ(tokens(row.at(1), std::stoi(row.at(2))), Tokens(row.begin() + 3, row.end()));
    } else if (row.at(0) == "head") {
      EXPECT_STREQ(oid_head(row.at(1).c_str(), out, std::stoi(row.at(2)), std::stoul(row.at(3))),
                   row.at(4).c_str());
    } else {
      EXPECT_STREQ(oid_skip(row.at(1).c_str(), std::stoi(row.at(2))), row.at(3).c_str());
    }
  }
  // The rest of the text stays behind the last token.
  char text[] = "GET /index.html HTTP/1.0";
  char* slots[2];
  ASSERT_EQ(string2toks(text, slots, 2), 2);
  EXPECT_STREQ(slots[1], "/index.html");
  EXPECT_STREQ(slots[1] + std::strlen(slots[1]) + 1, "HTTP/1.0");
}

TEST(ByteHelpers, HexDigitsCountBadAndMissingOnesAsZeroAndSwapsTakeWholeUnits) {
  std::uint8_t wwn[8];
  hex_to_wwn("2000001B32A1B2C3", wwn);
  const std::uint8_t expected[8] = {0x20, 0x00, 0x00, 0x1B, 0x32, 0xA1, 0xB2, 0xC3};
  EXPECT_EQ(0, std::memcmp(wwn, expected, 8));

  std::uint8_t bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  hex_to_bytes("1zG", bytes, 4);  // '1','z' -> 0x10; 'G', end -> 0x00; rest missing
  const std::uint8_t partial[4] = {0x10, 0x00, 0x00, 0x00};
  EXPECT_EQ(0, std::memcmp(bytes, partial, 4));

  // Swaps work on whole units.
  std::uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  swap_bytes16(b, 4);
  EXPECT_EQ((std::vector<int>{2, 1, 4, 3, 5, 6}), std::vector<int>(b, b + 6));
  std::uint8_t c[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  swap_bytes32(c, 5);  // two units
  EXPECT_EQ((std::vector<int>{4, 3, 2, 1, 8, 7, 6, 5}), std::vector<int>(c, c + 8));
  std::uint8_t d[4] = {1, 2, 3, 4};
  swap_bytes32(d, 0);
  swap_bytes16(d, -1);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), std::vector<int>(d, d + 4));
  swap_words32(d, 4);
  EXPECT_EQ((std::vector<int>{3, 4, 1, 2}), std::vector<int>(d, d + 4));
}

class SettingsTest : public ::testing::Test {
 protected:
  std::string conf_file(const std::string& text) {
    std::string path = dir_ + "/tavro.conf";
    testing::write_file(path, text);
    return path;
  }
  ParseResult parse(std::vector<std::string> words) { return parse_into(settings_, words); }
  static ParseResult parse_into(Settings& settings, const std::vector<std::string>& words) {
    std::vector<const char*> argv;
    for (const auto& w : words) argv.push_back(w.c_str());
    Diag diag{settings.debug};
    return parse_command_line(settings, static_cast<int>(argv.size()), argv.data(), diag);
  }

  std::string dir_ = testing::make_temp_dir();
  Settings settings_;
};

TEST_F(SettingsTest, OnlyTheFirstConfigurationFileIsReadAtThePlaceOfDashC) {
  std::string file = conf_file("Port 81\nConfName other.conf\n");
  std::string second = dir_ + "/second.conf";
  testing::write_file(second, "Port 99\n");
  ASSERT_EQ(parse({"-port", "80", "-c", file, "-c", second}), ParseResult::kOk);
  EXPECT_EQ(settings_.port, 81);
  EXPECT_EQ(std::string(settings_.conf_name), second);

  Settings later;
  ASSERT_EQ(parse_into(later, {"-c", file, "-port", "80"}), ParseResult::kOk);
  EXPECT_EQ(later.port, 80);
}

// conf_values.txt
TEST_F(SettingsTest, FileValuesUseBaseDetectionEnableWordsAndQuotes) {
  std::string text;
  std::vector<std::string> want;
  for (const auto& row : testing::read_rows("unit/daemon/conf_values.txt"))
    row.at(0) == "conf" ? text += row.at(1) + "\n" : want.emplace_back(row.at(1));
  Daemon d;
  ASSERT_EQ(parse_into(d.settings, {"-c", conf_file(text)}), ParseResult::kOk);
  char reply[4096];
  build_config_reply(d, reply, sizeof reply);
  const std::string config = ";" + std::string(reply) + ";";
  for (const std::string& line : want)
    EXPECT_NE(config.find(";" + line + ";"), std::string::npos) << line << " in " << config;
}

// Integers beyond 32 bits stay at the nearest end; texts are cut to their
// setting.
TEST_F(SettingsTest, ValuesThatDoNotFitAreClampedOrCut) {
  const struct {
    const char* text;
    std::int32_t value;
  } rows[] = {{"0x7FFFFFFF", INT32_MAX},  {"0x80000000", INT32_MAX},  {"99999999999", INT32_MAX},
              {"-2147483648", INT32_MIN}, {"-0x80000001", INT32_MIN}, {"4294967296", INT32_MAX}};
  for (const auto& row : rows) EXPECT_EQ(parse_integer_setting(row.text), row.value) << row.text;
  std::string long_path(400, 'p');
  ASSERT_EQ(parse({"-d", "0x80000000", "-base", long_path, "-apilib", "libhbaapi.so"}),
            ParseResult::kOk);
  EXPECT_EQ(settings_.debug, INT32_MAX);
  EXPECT_EQ(std::string(settings_.base_dir), std::string(255, 'p'));
  EXPECT_STREQ(settings_.hba_api_lib, "libhbaa");
  EXPECT_EQ(settings_.recv_timeout, 12);  // the neighbouring setting is intact
}

TEST(EnableAndAccess, OnlyTheListedSpellingsEnable) {
  for (const char* yes :
       {"true", "on", "yes", "enable", "enabled", "0", "TRUE", "ON", "YES", "ENABLE", "ENABLED"}) {
    EXPECT_EQ(parse_enable(yes), kEnabled) << yes;
  }
  for (const char* no : {"True", "1", "off", "", "enabled "})
    EXPECT_EQ(parse_enable(no), kDisabled) << no;

  EXPECT_EQ(parse_access("rWx?"), 0x70);
  char text[4];
  format_access(0x50, text);
  EXPECT_STREQ(text, "r-x");
}

TEST(ConfigAndStatsReplies, AreCutToTheBufferAndNeverWrittenPastIt) {
  Daemon d;
  char out[64 + 8];
  std::memset(out, '#', sizeof out);
  std::size_t n = build_config_reply(d, out, 64);
  EXPECT_LE(n, 63u);
  EXPECT_EQ(out[n], '\0');
  EXPECT_EQ(std::string(out, 15), "Up since;;Revis");
  EXPECT_EQ(std::string(out + 64, 8), std::string(8, '#'));
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(build_stats_reply(d, out, 40), 39u);
  EXPECT_EQ(std::string(out, 39), "GET;0;GET(htmls);0;GET(images);0;GET(ja");
  EXPECT_EQ(std::string(out + 40, 4), "####");
}

class DiagTest : public ::testing::Test {
 protected:
  std::int32_t flags_ = 0;
  Diag diag{flags_};
};

TEST_F(DiagTest, HexDumpFullRunsThenAShortRunWithBlankColumnsAndDotsForUnprintables) {
  unsigned char bytes[31] = {};
  for (int i = 0; i < 15; ++i) bytes[16 + i] = static_cast<unsigned char>('A' + i);
  bytes[19] = 0x07;
  ::testing::internal::CaptureStdout();
  diag.hexdump(bytes, 31);
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string rule(57, '=');
  std::regex layout("^" + rule + "\n0x[0-9a-f]+: (00 ){16}\\.{16}\n" +
                    "0x[0-9a-f]+: 41 42 43 07 45 46 47 48 49 4a 4b 4c 4d 4e 4f    "
                    "ABC.EFGHIJKLMNO \n" +
                    rule + "\n$");
  EXPECT_TRUE(std::regex_match(out, layout)) << out;
}

// A line with or without its own line end is framed on the debug page as
// the redirection test below and tests/e2e/http show; an empty one gets no line feed.
TEST_F(DiagTest, PrintDebugPageFramesAnEmptyTextWithoutALineFeed) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  diag.redirect_to(pair[0], std::chrono::steady_clock::now() + std::chrono::seconds(60));
  ::testing::internal::CaptureStdout();
  diag.print("%s", "");
  diag.end_redirect();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  ::close(pair[0]);
  EXPECT_EQ(testing::read_all(pair[1]), "<font color=#0000C0>  </font>");
  ::close(pair[1]);
}

// A page whose client reads nothing holds a thread that prints (the driver's
// delivery thread, say) no longer than the page's deadline.
TEST_F(DiagTest, PrintAPageThatIsNotReadHoldsAPrintingThreadOnlyUntilItsDeadline) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  diag.redirect_to(pair[0], std::chrono::steady_clock::now() + std::chrono::milliseconds(300));
  std::atomic<bool> done{false};
  std::thread printer([&] {
    const std::string line(1000, 'x');
    for (int i = 0; i < 2000; ++i) diag.print("%s", line.c_str());
    done = true;
  });
  for (int i = 0; i < 50 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(done) << "the printing thread is stuck on the page";
  ::shutdown(pair[1], SHUT_RDWR);  // lets a stuck thread go, so that the test ends
  printer.join();
  diag.end_redirect();
  ::close(pair[0]);
  ::close(pair[1]);
}

// Its record in the request log is checked end to end (tests/e2e/http).
// Control characters a client sent reach the terminal escaped.
TEST_F(DiagTest, PrintCutsAt1024CharactersEscapesControlsAndReportErrorAddsTheErrorNumber) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(diag.print("%s", std::string(3000, 'x').c_str()), 1024);
  diag.print("\n\x1B[2J\tC1 \xC2\x9B\r\x7F \xC3\xA9\n");
  errno = 104;
  diag.report_error("tavro: REV(send())");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            std::string(1024, 'x') + "\n\\x1B[2J\tC1 \\xC2\\x9B\\x0D\\x7F \xC3\xA9\n" +
                "\ntavro: REV(send()) (error 104)\n");
}

std::string decoded(std::string text) {
  percent_decode(text.data());
  return text.c_str();
}

TEST(PercentDecode, DecodesEscapesOnceAndLeavesTheRest) {
  EXPECT_EQ(decoded("%4a%4A%7e"), "JJ~");
  EXPECT_EQ(decoded("%zz%4%"), "%zz%4%");
  EXPECT_EQ(decoded("ab%00cd"), "ab");
}

// Relative paths, the working directory as home, parent components and the
// counting by file type are met end to end (tests/e2e/http); here only what
// a request cannot reach.
TEST(MapPath, RefusesAPathLongerThanItsBuffer) {
  Settings s;
  char out[64];
  std::string long_path = "/" + std::string(80, 'x');
  EXPECT_FALSE(map_path(s, long_path.c_str(), out, sizeof out));
}

// Traces printed by another thread reach the debug page while it is served,
// and only whole lines of them: once the page has ended, none is in flight.
TEST_F(DiagTest, DebugPageRedirectionEndsForEveryThreadWhenThePageEnds) {
  diag.set_stdout(false);
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::string page;
  std::thread reader([&] { page = testing::read_all(pair[1]); });
  std::atomic<bool> done{false};
  std::atomic<int> printed{0};
  std::thread other([&] {
    while (!done) {
      diag.print("x");
      ++printed;
    }
  });
  diag.redirect_to(pair[0], std::chrono::steady_clock::now() + std::chrono::seconds(60));
  int before = printed;
  while (printed < before + 50) std::this_thread::yield();
  diag.end_redirect();
  ::shutdown(pair[0], SHUT_WR);  // a send from now on would fail half-way
  int after = printed;
  while (printed < after + 50) std::this_thread::yield();
  done = true;
  other.join();
  reader.join();
  ::close(pair[0]);
  ::close(pair[1]);
  std::string line = "<font color=#0000C0>  x</font>\n";
  ASSERT_GE(page.size(), line.size());
  EXPECT_EQ(page.size() % line.size(), 0u);
  EXPECT_EQ(page.substr(page.size() - line.size()), line);
}

}  // namespace
}  // namespace tavro
