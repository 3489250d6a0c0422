#include "daemon/http.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "daemon/daemon.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

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
