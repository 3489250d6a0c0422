// FCGET and FCSET through the real daemon and the simulator's default model:
// the exchanges of each data file, in order, on one daemon.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/objects/objects_e2e.h"

namespace tavro::testing {
namespace {

class FcCommands : public ::testing::Test {
 protected:
  FcCommands() : daemon_(object_daemon()) {}
  void TearDown() override {
    EXPECT_EQ(daemon_.stop(), 0);
    EXPECT_EQ(daemon_.output().find("Sanitizer"), std::string::npos) << daemon_.output();
  }
  int port() const { return daemon_.port(); }
  DaemonProcess daemon_;
};

class FcFiles : public FcCommands, public ::testing::WithParamInterface<const char*> {};

TEST_P(FcFiles, RepliesAsTheFileSays) {
  const Vars vars = {{"A", kAgent},         {"ADAPTER0", kAdapter0},
                     {"PORT0", kPort0},     {"NODE0", kNode0},
                     {"REMOTE0", kRemote0}, {"REMOTE", kNode0 + "." + kRemote0}};
  EXPECT_EQ(
      mismatches(port(), read_exchanges("e2e/objects/" + std::string(GetParam()) + ".txt", vars)),
      "");
}

INSTANTIATE_TEST_SUITE_P(Files, FcFiles, ::testing::Values("reads", "lookup_errors", "writes"));

// Values of this host and this run; the requests are counted.
TEST_F(FcCommands, HostValuesAndRequestCounts) {
  EXPECT_GE(std::stoul(fcget(port(), "3.7.1.15." + kPort0)), 1000u);
  EXPECT_EQ(fcget(port(), "2.4.0").rfind("Linux ", 0), 0u);
  EXPECT_FALSE(fcget(port(), "2.3.0").empty());
  EXPECT_GT(std::stoi(fcget(port(), "2.7.0")), 0);
  EXPECT_NO_THROW(std::stoul(fcget(port(), "2.14.0")));
  EXPECT_NE(fcget(port(), "2.6.0").find(' '), std::string::npos);
  fcset(port(), "2.11.0", "5.5");
  std::string stats = request(port(), "STATS\n");
  EXPECT_NE(stats.find("FCGET ;6;FCSET ;1"), std::string::npos) << stats;
}

TEST_F(FcCommands, EventLogWriteReadAndSize) {
  EXPECT_EQ(fcset(port(), "5.3.0", "1 4 disk#3+is+gone -1"), "ok");
  std::string log = read_file(daemon_.dir() + "/events.log");
  std::size_t at = log.find("LXS WARNG: disk.3 is gone");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(fcget(port(), "5.1.0"), std::to_string(log.size()));
  EXPECT_EQ(fcget(port(), "5.2.1.3." + std::to_string(at) + ".0x19"), "LXS WARNG: disk.3 is gone");
  EXPECT_EQ(fcget(port(), "5.2.1.3.0.0"), std::string(1, '\0'));  // an empty reply
  EXPECT_EQ(fcget(port(), "5.2.1.3.0."), "Error: fclog_read() message is malformed");
  EXPECT_EQ(fcset(port(), "5.3.0", "1 4 few"), "Error: fclog_write_msg() message is malformed");
}

}  // namespace
}  // namespace tavro::testing
