#include "eventlog/log_files.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>

#include "daemon/diag.h"
#include "eventlog/request_log.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

TEST(Timestamp, IsTwentyCharactersOfMonthDayTimeAndYear) {
  std::string t = log_timestamp().text;
  EXPECT_TRUE(std::regex_match(t, std::regex("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                             "[0-3]\\d [0-2]\\d:[0-5]\\d:[0-6]\\d \\d{4}")))
      << t;
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_STREQ(log_timestamp(1796515200).text, "Dec 06 00:00:00 2026");
}

class LogFileTest : public ::testing::Test {
 protected:
  LogFileTest() { testing::write_file(path_, std::string(40, 'a')); }
  std::string read(long offset, long count, std::size_t cap = 4096) {
    std::vector<char> out(cap + 1, '#');
    std::size_t n = lxs_fread(path_.c_str(), offset, count, out.data(), cap);
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(out[cap], '#');
    return std::string(out.data(), n);
  }
  std::string dir_ = testing::make_temp_dir();
  std::string path_ = dir_ + "/requests.log";
};

TEST_F(LogFileTest, ReadReturnsTheRangeThatExists) {
  EXPECT_EQ(read(0, 100), std::string(40, 'a'));
  EXPECT_EQ(read(30, 5), "aaaaa");
  EXPECT_EQ(read(40, 100), "");
  EXPECT_EQ(read(500, 1), "");
  EXPECT_EQ(read(0, 0), "");
  EXPECT_EQ(read(0, -5), "");
  EXPECT_EQ(read(0, 100, 16), std::string(15, 'a'));
}

TEST_F(LogFileTest, ReadErrorsAreTexts) {
  EXPECT_EQ(read(-1, 10), "Error: lxs_fread() Seek failed");
  std::vector<char> out(100);
  lxs_fread("", 0, 1, out.data(), out.size());
  EXPECT_STREQ(out.data(), "Error: lxs_fread() fn=NULL|EMPTY");
  lxs_fread((dir_ + "/none").c_str(), 0, 1, out.data(), out.size());
  EXPECT_STREQ(out.data(), "Error: lxs_fread() Open failed");
}

TEST_F(LogFileTest, SizeTextIsTheByteCountOrAnError) {
  char out[128];
  evlog_size_text(path_.c_str(), out, sizeof out);
  EXPECT_STREQ(out, "40");
  evlog_size_text(nullptr, out, sizeof out);
  EXPECT_STREQ(out, "Error: fn=NULL");
  evlog_size_text((dir_ + "/none").c_str(), out, sizeof out);
  EXPECT_STREQ(out, "Error:  2 - No such file or directory");
}

// A connected TCP pair over loopback: the note names the peer.
class NoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::listen(listener_, 1);
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    client_ = testing::connect_to(ntohs(addr.sin_port));
    server_ = ::accept(listener_, nullptr, nullptr);
  }
  void TearDown() override {
    ::close(client_);
    ::close(server_);
    ::close(listener_);
  }
  int listener_ = -1, client_ = -1, server_ = -1;
};

TEST_F(NoteTest, NamesThePeerAndIsCutTo255Characters) {
  char note[300];
  format_request_note(server_, "REV", note, sizeof note);
  EXPECT_TRUE(
      std::regex_match(std::string(note), std::regex("(localhost|127\\.0\\.0\\.1) - REV\n")))
      << note;
  std::string long_request(400, 'r');
  format_request_note(server_, long_request.c_str(), note, sizeof note);
  EXPECT_EQ(std::strlen(note), 255u);
  EXPECT_EQ(note[254], '\n');
}

TEST_F(NoteTest, UnreadablePeerIsNamedByTheError) {
  char note[300];
  int unconnected = ::socket(AF_INET, SOCK_STREAM, 0);
  format_request_note(unconnected, "REV", note, sizeof note);
  ::close(unconnected);
  EXPECT_EQ(std::string(note),
            "getpeername() Error 107:Transport endpoint is not connected\n - REV\n");
}

TEST_F(NoteTest, RequestLogWritesStampedNotesAndCommitsEachLine) {
  std::string dir = testing::make_temp_dir();
  std::string path = dir + "/requests.log";
  testing::write_file(path, "");
  std::int32_t debug = 0, mode = 0, flags = 1;
  Diag diag(debug);
  RequestLog log({path.c_str(), mode, flags}, &diag);
  ASSERT_EQ(log.open("***** Started - now - *****\n"), 0);
  log.note_request(server_, "ECHO hi");
  EXPECT_TRUE(std::regex_match(
      testing::read_file(path),
      std::regex("\\*\\*\\*\\*\\* Started - now - \\*\\*\\*\\*\\*\n"
                 "[A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}: (localhost|127.0.0.1) - "
                 "ECHO hi\n")))
      << testing::read_file(path);
  log.close();
  EXPECT_EQ(log.write_line("after close"), -1);
}

TEST(RequestLogOpen, MissingFileWithAppendModeStaysClosed) {
  std::string dir = testing::make_temp_dir();
  std::string path = dir + "/requests.log";
  std::int32_t debug = 0, mode = 0, flags = 1;
  Diag diag(debug);
  RequestLog log({path.c_str(), mode, flags}, &diag);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(log.open("start\n"), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "lxs_fopen() Error opening file: " + path + "\nError 2: No such file or directory\n");
  EXPECT_FALSE(log.is_open());
}

}  // namespace
}  // namespace tavro
