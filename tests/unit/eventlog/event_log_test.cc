#include "eventlog/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "daemon/diag.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

// Replaces each leading time stamp by "T" so records compare as text.
std::string without_stamps(const std::string& text) {
  static const std::regex stamp("(^|\n)[A-Z][a-z]{2} [0-3]\\d \\d\\d:\\d\\d:\\d\\d \\d{4} ");
  return std::regex_replace(text, stamp, "$1T ");
}

class EventLogTest : public ::testing::Test {
 protected:
  EventLogTest() { testing::write_file(path_, ""); }

  std::string contents() const { return without_stamps(testing::read_file(path_)); }

  std::string dir_ = testing::make_temp_dir();
  std::string path_ = dir_ + "/events.log";
  std::int32_t debug_ = 0;
  std::int32_t mode_ = 0;
  std::int32_t flags_ = 0x1F;
  Diag diag_{debug_};
  EventLog log_{{path_.c_str(), mode_, flags_}, &diag_};
};

TEST_F(EventLogTest, RecordsCarryStampSourceLevelAndErrorNumber) {
  log_.open();
  log_.write(kSourceDrv, kLevelError, "Link down", 86);
  log_.write(kSourceFms, kLevelWarning, "plain");
  log_.write(7, 0, "odd source and level");
  log_.write(kSourceLxs, 3, "two level bits");
  log_.close();
  EXPECT_EQ(contents(),
            "T LXS NOTCE: ***** Started *****\n"
            "T DRV ERROR: Link down - error(86)\n"
            "T FMS WARNG: plain\n"
            "T *** *****: odd source and level\n"
            "T LXS *****: two level bits\n"
            "T LXS NOTCE: ***** Halted *****\n");
}

TEST_F(EventLogTest, LevelMaskKeepsOnlyItsLevelsAndLevelZero) {
  flags_ = kLevelNotice;
  log_.open();
  EXPECT_EQ(log_.write(kSourceLxs, kLevelDebug, "debug"), 0);
  EXPECT_EQ(log_.write(kSourceLxs, kLevelError, "error"), 0);
  log_.write(kSourceLxs, kLevelNotice, "notice");
  log_.write(kSourceLxs, 0, "always");
  log_.close();
  EXPECT_EQ(contents(),
            "T LXS NOTCE: ***** Started *****\nT LXS NOTCE: notice\nT LXS *****: always\n"
            "T LXS NOTCE: ***** Halted *****\n");
}

TEST_F(EventLogTest, NoMaskMeansTheFileIsNeverOpened) {
  flags_ = 0;
  log_.open();
  EXPECT_FALSE(log_.is_open());
  EXPECT_EQ(log_.write(kSourceLxs, 0, "x"), 0);
  EXPECT_EQ(testing::read_file(path_), "");
}

TEST_F(EventLogTest, RepeatedRecordsAreCountedAndSummarised) {
  log_.open();
  for (int i = 0; i < 3; ++i) log_.write(kSourceLxs, kLevelError, "same");
  log_.write(kSourceLxs, kLevelError, "other");
  log_.write(kSourceLxs, kLevelError, "pair");
  log_.write(kSourceLxs, kLevelError, "pair");
  log_.write(kSourceLxs, kLevelError, "single");
  log_.write(kSourceLxs, kLevelError, "last");
  log_.close();
  EXPECT_EQ(contents(),
            "T LXS NOTCE: ***** Started *****\n"
            "T LXS ERROR: same\n"
            "T *** *****: Last message repeated 3 times.\n"
            "T LXS ERROR: other\n"
            "T LXS ERROR: pair\n"
            "T *** *****: Last message repeated 2 times.\n"
            "T LXS ERROR: single\n"
            "T LXS ERROR: last\n"
            "T LXS NOTCE: ***** Halted *****\n");
}

TEST_F(EventLogTest, RecordsDifferingOnlyInTheirStampAreRepeats) {
  log_.open();
  log_.write(kSourceLxs, kLevelError, "slow");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_GT(log_.write(kSourceLxs, kLevelError, "slow"), 0);
  log_.settle_repeats();
  log_.write(kSourceLxs, kLevelError, "slow");
  log_.close();
  EXPECT_EQ(contents(),
            "T LXS NOTCE: ***** Started *****\n"
            "T LXS ERROR: slow\n"
            "T *** *****: Last message repeated 2 times.\n"
            "T LXS ERROR: slow\n"
            "T LXS NOTCE: ***** Halted *****\n");
}

TEST_F(EventLogTest, LongTextIsCutTo255CharactersWithItsLineEnd) {
  log_.open();
  std::string text(400, 'x');
  EXPECT_EQ(log_.write(kSourceLxs, kLevelError, text.c_str(), 5), 255);
  log_.close();
  std::istringstream lines(testing::read_file(path_));
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  EXPECT_EQ(line.size(), 254u);
  EXPECT_EQ(line.substr(line.size() - 3), "xxx");
}

TEST_F(EventLogTest, RotationKeepsThePreviousLogAsOld) {
  testing::write_file(path_, "previous run\n");
  testing::write_file(path_ + ".old", "lost\n");
  mode_ = 2;
  log_.open();
  log_.close();
  EXPECT_EQ(testing::read_file(path_ + ".old"), "previous run\n");
  EXPECT_EQ(contents(), "T LXS NOTCE: ***** Started *****\nT LXS NOTCE: ***** Halted *****\n");
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(EventLogTest, RotationNamesTheOldFileInFullHoweverLongThePath) {
  // 299 characters: one more than the old fixed name buffer left room for.
  std::string sub = dir_ + "/" + std::string(150, 'd');
  ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
  std::string path = sub + "/" + std::string(299 - sub.size() - 1, 'f');
  ASSERT_EQ(path.size(), 299u);
  testing::write_file(path, "previous run\n");
  mode_ = 2;
  EventLog log({path.c_str(), mode_, flags_}, nullptr);
  log.open();
  log.close();
  EXPECT_EQ(testing::read_file(path + ".old"), "previous run\n");
  EXPECT_EQ(without_stamps(testing::read_file(path)),
            "T LXS NOTCE: ***** Started *****\nT LXS NOTCE: ***** Halted *****\n");
}

TEST_F(EventLogTest, ReopeningLaterInTheRunAppendsWhateverTheMode) {
  for (std::int32_t mode : {1, 2}) {
    testing::write_file(path_, "before\n");
    mode_ = mode;
    EventLog log({path_.c_str(), mode_, flags_}, nullptr);
    log.open();
    log.write(kSourceLxs, kLevelError, "first");
    log.close();
    log.open();
    log.close();
    EXPECT_EQ(contents(),
              "T LXS NOTCE: ***** Started *****\nT LXS ERROR: first\n"
              "T LXS NOTCE: ***** Halted *****\nT LXS NOTCE: ***** Started *****\n"
              "T LXS NOTCE: ***** Halted *****\n")
        << "mode " << mode;
    if (mode == 2) {
      EXPECT_EQ(testing::read_file(path_ + ".old"), "before\n");
    }
  }
}

TEST_F(EventLogTest, TruncateAndAppendNeverCreateAMissingFile) {
  std::string missing = dir_ + "/missing.log";
  for (std::int32_t mode : {0, 1}) {
    std::int32_t m = mode;
    EventLog log({missing.c_str(), m, flags_}, nullptr);
    log.open();
    EXPECT_FALSE(log.is_open());
    struct stat st {};
    EXPECT_NE(::stat(missing.c_str(), &st), 0);
  }
  testing::write_file(path_, "old text\n");
  mode_ = 1;
  log_.open();
  log_.close();
  EXPECT_EQ(contents(), "T LXS NOTCE: ***** Started *****\nT LXS NOTCE: ***** Halted *****\n");
}

TEST_F(EventLogTest, ReopenForAppendAddsNoStartMarker) {
  log_.open();
  log_.close();
  log_.open_for_append();
  log_.write(kSourceLxs, kLevelNotice, "Program exiting");
  log_.close();
  EXPECT_EQ(contents(),
            "T LXS NOTCE: ***** Started *****\nT LXS NOTCE: ***** Halted *****\n"
            "T LXS NOTCE: Program exiting\nT LXS NOTCE: ***** Halted *****\n");
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
  EXPECT_NE(out.find("FCLOG: append() "), std::string::npos) << out;
  EXPECT_NE(out.find("FCLOG: repeat() cnt=2\n"), std::string::npos);
  EXPECT_NE(out.find("FCLOG: close() fn="), std::string::npos);
  std::string log = std::regex_replace(contents(), std::regex(" fd=0x[0-9a-f]+"), " fd");
  EXPECT_EQ(log,
            "T LXS DEBUG: FCLOG: open() fn=" + path_ +
                " fd flg=0x1f\nT LXS NOTCE: ***** Started *****\nT LXS ERROR: traced\n"
                "T *** *****: Last message repeated 2 times.\nT LXS NOTCE: ***** Halted *****\n"
                "T LXS DEBUG: FCLOG: flush() fn=" +
                path_ + " fd\n");
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
  std::istringstream lines(testing::read_file(path_));
  std::regex record(
      "[A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4} LXS (ERROR: writer \\d record \\d+|"
      "NOTCE: \\*{5} (Started|Halted) \\*{5})");
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, record)) << line;
    ++count;
  }
  EXPECT_GE(count, 3);
}

}  // namespace
}  // namespace tavro
