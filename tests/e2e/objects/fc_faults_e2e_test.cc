// Failures of the driver side, injected through the simulator's model file.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/objects/objects_e2e.h"

namespace tavro::testing {
namespace {

// faults_model.json with these faults.
std::string model_with_faults(const std::string& faults) {
  std::string path = make_temp_dir() + "/model.json";
  write_file(path, expand(test_data("e2e/objects/faults_model.json"), {{"FAULTS", faults}}));
  return path;
}

const Vars kVars = {{"A", kAgent},     {"ADAPTER0", kAdapter0}, {"PORT0", kPort0},
                    {"NODE0", kNode0}, {"REMOTE0", kRemote0},   {"PORT2", "210000E08B010204"}};

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

// A late answer is met in tests/unit/channel (exchange_test.cc).
TEST(FcFaults, FailedObjectsSilentDriverAndStrayAnswers) {
  DaemonProcess daemon(object_daemon(model_with_faults(R"({"messages": [
      {"message": "0x0B00001E", "lxs_status": 3}, {"message": "0x15000016", "no_answer": true},
      {"message": "0x15000018", "caller_thread": true}, {"message": "0x1500001C", "twice": true}]})")));
  EXPECT_EQ(mismatches(daemon.port(), read_exchanges("e2e/objects/faults.txt", kVars)), "");
}

}  // namespace
}  // namespace tavro::testing
