#include "eventlog/log_files.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/diag.h"
#include "eventlog/request_log.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

TEST(Timestamp, GivesMonthDayTimeAndYearOfAnInjectedTime) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_STREQ(log_timestamp(1796515200).text, "Dec 06 00:00:00 2026");
}

// The read and size errors for a missing file, a bad offset and no file name
// at all are checked through LOGREAD and LOGSIZE in the end-to-end tests.
TEST(LogFileRead, ReturnsTheRangeThatExistsAndNeverWritesPastTheBuffer) {
  std::string path = testing::make_temp_dir() + "/requests.log";
  testing::write_file(path, std::string(40, 'a'));
  auto read = [&](long offset, long count, std::size_t cap = 4096, const char* name = nullptr) {
    std::vector<char> out(cap + 1, '#');
    std::size_t n = lxs_fread(name ? name : path.c_str(), offset, count, out.data(), cap);
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(out[cap], '#');
    return std::string(out.data(), n);
  };
  EXPECT_EQ(read(500, 1), "");
  EXPECT_EQ(read(0, 0), "");
  EXPECT_EQ(read(0, -5), "");
  EXPECT_EQ(read(0, 100, 16), std::string(15, 'a'));
  EXPECT_EQ(read(0, 1, 100, ""), "Error: lxs_fread() fn=NULL|EMPTY");
}

// How a note names a readable peer, and its cut to one record, are checked in
// the request log of the end-to-end tests.
TEST(RequestNote, NamesAnUnreadablePeerByTheError) {
  int unconnected = ::socket(AF_INET, SOCK_STREAM, 0);
  char note[300];
  format_request_note(unconnected, "REV", note, sizeof note);
  ::close(unconnected);
  EXPECT_STREQ(note, "getpeername() Error 107:Transport endpoint is not connected - REV\n");
}

TEST(RequestLog, OpensOnlyAnExistingFile) {
  std::string path = testing::make_temp_dir() + "/requests.log";
  std::int32_t debug = 0, mode = 0, flags = 1;
  Diag diag(debug);
  RequestLog log({path.c_str(), mode, flags}, &diag);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(log.open("start\n"), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "lxs_fopen() Error opening file: " + path + "\nError 2: No such file or directory\n");
  EXPECT_FALSE(log.is_open());

  testing::write_file(path, "");
  ASSERT_EQ(log.open("***** Started - now - *****\n"), 0);
  EXPECT_EQ(testing::read_file(path), "***** Started - now - *****\n");
  log.close();
  EXPECT_EQ(log.write_line("after close"), -1);
}

}  // namespace
}  // namespace tavro
