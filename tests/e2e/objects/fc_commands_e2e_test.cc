// FCGET and FCSET through the real daemon and the simulator's default model:
// the exchanges of each data file, in order, on one daemon; and failures of the
// driver side, injected through the simulator's model file.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string kAgent = ".1.3.6.1.4.1.48217.3.";
// Objects of the simulator's default model.
const std::string kAdapter0 = "/pvd/pci2/dev5/fcp0";
const std::string kPort0 = "210000E08B010203";
const std::string kNode0 = "200000E08B010203";
const std::string kRemote0 = "2000002037A1B2C3";

// A daemon with both commands enabled and an event log in its directory;
// model names a simulator model file (with faults) when not empty.
DaemonOptions object_daemon(const std::string& model = "") {
  DaemonOptions o;
  o.args = {"-fcget",     "enabled", "-fcset", "enabled", "-fclog",
            "events.log", "-fclo",   "2",      "-fclf",   "0x1F"};
  if (!model.empty()) o.env.emplace_back("TAVRO_SIM_MODEL", model);
  return o;
}

std::string fcget(int port, const std::string& object) {
  return request(port, "FCGET " + kAgent + object + "\n");
}

std::string fcset(int port, const std::string& object, const std::string& value) {
  return request(port, "FCSET " + kAgent + object + " " + value + "\n");
}

const Vars kVars = {{"A", kAgent},
                    {"ADAPTER0", kAdapter0},
                    {"PORT0", kPort0},
                    {"NODE0", kNode0},
                    {"REMOTE0", kRemote0},
                    {"REMOTE", kNode0 + "." + kRemote0},
                    {"PORT2", "210000E08B010204"}};

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
  EXPECT_EQ(
      mismatches(port(), read_exchanges("e2e/objects/" + std::string(GetParam()) + ".txt", kVars)),
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

// faults_model.json with these faults.
std::string model_with_faults(const std::string& faults) {
  std::string path = make_temp_dir() + "/model.json";
  write_file(path, expand(test_data("e2e/objects/faults_model.json"), {{"FAULTS", faults}}));
  return path;
}

TEST(FcFaults, ClosedChannelAnswersDriverNotOpenedButLocalObjectsStillAnswer) {
  DaemonProcess daemon(object_daemon(model_with_faults(R"({"refuse_register": 1000})")));
  int port = daemon.port();
  // The attempts at start-up (six, counted in tests/unit/channel) come first;
  // REV is served after them.
  ASSERT_TRUE(
      wait_for_text(daemon.dir() + "/events.log", "LXS ERROR: Registration failed - error(1)\n"));
  EXPECT_NE(request(port, "REV\n"), "");
  EXPECT_EQ(mismatches(port, read_exchanges("e2e/objects/closed.txt", kVars)), "");
  EXPECT_EQ(fcget(port, "4.3.1.17." + kNode0).substr(0, 12), "-1|-1|-1|-1|");
}

// A late answer is met in tests/unit/channel (LateResponsesChangeNothing).
TEST(FcFaults, FailedObjectsSilentDriverAndStrayAnswers) {
  DaemonProcess daemon(object_daemon(model_with_faults(R"({"messages": [
      {"message": "0x0B00001E", "lxs_status": 3}, {"message": "0x15000016", "no_answer": true},
      {"message": "0x15000018", "caller_thread": true}, {"message": "0x1500001C", "twice": true}]})")));
  EXPECT_EQ(mismatches(daemon.port(), read_exchanges("e2e/objects/faults.txt", kVars)), "");
}

}  // namespace
}  // namespace tavro::testing
