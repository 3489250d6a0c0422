#include "eventlog/event_log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/diag.h"
#include "eventlog/log_files.h"
#include "eventlog/request_log.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

const std::string kStart = "T LXS NOTCE: ***** Started *****\n";
const std::string kHalt = "T LXS NOTCE: ***** Halted *****\n";

// The file with each leading time stamp replaced by "T", so records compare as text.
std::string without_stamps(const std::string& path) {
  static const std::regex stamp("(^|\n)[A-Z][a-z]{2} [0-3]\\d \\d\\d:\\d\\d:\\d\\d \\d{4} ");
  return std::regex_replace(testing::read_file(path), stamp, "$1T ");
}

class EventLogTest : public ::testing::Test {
 protected:
  EventLogTest() { testing::write_file(path_, ""); }

  std::string contents() const { return without_stamps(path_); }

  std::string dir_ = testing::make_temp_dir();
  std::string path_ = dir_ + "/events.log";
  std::int32_t debug_ = 0;
  std::int32_t mode_ = 0;
  std::int32_t flags_ = 0x1F;
  Diag diag_{debug_};
  EventLog log_{{path_.c_str(), mode_, flags_}, &diag_};
};

// Records differing only in their stamp are repeats too (records.txt).
TEST_F(EventLogTest, RecordsCarryStampSourceLevelAndErrorNumberAndRepeatsAreCounted) {
  log_.open();
  log_.write(kSourceDrv, kLevelError, "Link down", 86);
  log_.write(kSourceFms, kLevelWarning, "plain");
  log_.write(7, 0, "odd source and level");
  log_.write(kSourceLxs, 3, "two level bits");
  for (const char* text : {"same", "same", "same", "other", "pair", "pair", "single", "slow"}) {
    log_.write(kSourceLxs, kLevelError, text);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_GT(log_.write(kSourceLxs, kLevelError, "slow"), 0);
  log_.settle_repeats();
  log_.write(kSourceLxs, kLevelError, "slow");
  EXPECT_EQ(log_.write(kSourceLxs, kLevelError, std::string(400, 'x').c_str(), 5), 255);
  log_.close();
  std::string records;
  for (const auto& row :
       testing::read_rows("unit/eventlog/records.txt", {{"X", std::string(222, 'x')}}))
    records += row.at(0) + "\n";
  EXPECT_EQ(contents(), records);
}

TEST_F(EventLogTest, LevelMaskKeepsOnlyItsLevelsAndLevelZeroAndNoMaskNeverOpens) {
  flags_ = kLevelNotice;
  log_.open();
  EXPECT_EQ(log_.write(kSourceLxs, kLevelDebug, "debug"), 0);
  EXPECT_EQ(log_.write(kSourceLxs, kLevelError, "error"), 0);
  log_.write(kSourceLxs, kLevelNotice, "notice");
  log_.write(kSourceLxs, 0, "always");
  log_.close();
  EXPECT_EQ(contents(), kStart + "T LXS NOTCE: notice\nT LXS *****: always\n" + kHalt);
  // No mask at all: the file is never opened.
  flags_ = 0;
  log_.open();
  EXPECT_FALSE(log_.is_open());
  EXPECT_EQ(log_.write(kSourceLxs, 0, "x"), 0);
  EXPECT_EQ(contents(), kStart + "T LXS NOTCE: notice\nT LXS *****: always\n" + kHalt);
}

// Modes 0 and 1 append to and truncate an existing file, never creating one;
// mode 2 keeps it as .old. Reopening later in the run appends whatever the
// mode. The path has 299 characters: one more than the old fixed name buffer
// left room for.
TEST_F(EventLogTest, TheModeAppliesToTheFirstOpenOnly) {
  std::string sub = dir_ + "/" + std::string(150, 'd');
  ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
  std::string path = sub + "/" + std::string(299 - sub.size() - 1, 'f');
  for (mode_ = 0; mode_ <= 2; ++mode_) {
    SCOPED_TRACE(mode_);
    std::string missing = dir_ + "/missing" + std::to_string(mode_);
    EventLog absent({missing.c_str(), mode_, flags_}, nullptr);
    absent.open();
    EXPECT_EQ(absent.is_open(), mode_ == 2);
    EXPECT_EQ(std::filesystem::exists(missing), mode_ == 2);

    testing::write_file(path, "before\n");
    testing::write_file(path + ".old", "lost\n");
    EventLog log({path.c_str(), mode_, flags_}, nullptr);
    log.open();
    log.write(kSourceLxs, kLevelError, "first");
    log.close();
    log.open();
    log.close();
    EXPECT_EQ(without_stamps(path), (mode_ == 0 ? "before\n" : "") + kStart +
                                        "T LXS ERROR: first\n" + kHalt + kStart + kHalt);
    EXPECT_EQ(testing::read_file(path + ".old"), mode_ == 2 ? "before\n" : "lost\n");
  }
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// The record traces are printed while the log is busy and never loop back;
// the open and flush traces come while it is free and reach it.
TEST_F(EventLogTest, OwnTracesReachTheLogOnlyFromOpenAndFlush) {
  debug_ = 0x200000;
  diag_.attach_logs(&log_, nullptr);
  ::testing::internal::CaptureStdout();
  log_.open();
  log_.write(kSourceLxs, kLevelError, "traced");
  log_.write(kSourceLxs, kLevelError, "traced");
  log_.close();
  std::string out = ::testing::internal::GetCapturedStdout();
  for (const char* trace : {"FCLOG: append() ", "FCLOG: repeat() cnt=2\n", "FCLOG: close() fn="}) {
    EXPECT_NE(out.find(trace), std::string::npos) << trace << " in " << out;
  }
  EXPECT_EQ(std::regex_replace(contents(), std::regex(" fd=0x[0-9a-f]+"), " fd"),
            "T LXS DEBUG: FCLOG: open() fn=" + path_ + " fd flg=0x1f\n" + kStart +
                "T LXS ERROR: traced\nT *** *****: Last message repeated 2 times.\n" + kHalt +
                "T LXS DEBUG: FCLOG: flush() fn=" + path_ + " fd\n");
}

TEST_F(EventLogTest, ConcurrentWritersLeaveWholeRecords) {
  log_.open();
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([this, t] {
      for (int i = 0; i < 500; ++i) {
        std::string text = "writer " + std::to_string(t) + " record " + std::to_string(i);
        log_.write(kSourceLxs, kLevelError, text.c_str());
      }
    });
  }
  for (auto& w : writers) w.join();
  log_.close();
  std::istringstream lines(contents());
  std::regex record("T LXS (ERROR: writer \\d record \\d+|NOTCE: \\*{5} (Started|Halted) \\*{5})");
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, record)) << line;
    ++count;
  }
  EXPECT_GE(count, 3);
}

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
