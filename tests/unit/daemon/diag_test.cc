#include "base/diag.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "daemon/daemon.h"
#include "daemon/http.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

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
// DebugPageRedirection below and tests/e2e/http show; an empty one gets no line feed.
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
TEST(DebugPageRedirection, EndsForEveryThreadWhenThePageEnds) {
  std::int32_t flags = 0;
  Diag diag(flags);
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
