// Failures of the driver side, injected through the simulator's model file.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/objects/objects_e2e.h"

namespace tavro::testing {
namespace {

std::string model_with_faults(const std::string& faults) {
  std::string path = make_temp_dir() + "/model.json";
  write_file(path, R"({"adapters": [{"name": "/pvd/pci2/dev5/fcp0",
    "node_wwn": "200000E08B010203",
    "ports": [{"wwn": "210000E08B010203", "speed": 4, "vendor": "First"},
              {"wwn": "210000E08B010204", "speed": 8, "vendor": "Second"}]}],
    "devices": [{"present": false}], "faults": )" +
                       faults + "}");
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
  EXPECT_EQ(fcget(port, "4.4.1.6." + kNode0), "Error: Driver not opened");
  EXPECT_EQ(fcset(port, "3.5.1.5." + kPort0, "1"), "Error: Driver not opened");
  EXPECT_EQ(fcget(port, "4.3.1.17." + kNode0).substr(0, 12), "-1|-1|-1|-1|");
  EXPECT_EQ(fcget(port, "3.3.1.3." + kAdapter0), "Bus 2, Slot 5");
  EXPECT_EQ(fcget(port, "4.3.1.7." + kNode0), "0");
  EXPECT_EQ(request(port, "FCGET .1.3.6.1.4.1.48217.1.1.0\n"),
            "Error: No such member(.1.3.6.1.4.1.48217.1.1.0)");
}

// Each failure is answered with its own text and the daemon serves on.
// Answers on the caller's thread or sent twice reach only their own request
// (a late answer is met in tests/unit/channel, exchange_test.cc).
TEST(FcFaults, FailedObjectsSilentDriverAndStrayAnswers) {
  const std::string port2 = "210000E08B010204";
  DaemonProcess daemon(object_daemon(model_with_faults(R"({"messages": [
      {"message": "0x0B00001E", "lxs_status": 3}, {"message": "0x15000016", "no_answer": true},
      {"message": "0x15000018", "caller_thread": true}, {"message": "0x1500001C", "twice": true}]})")));
  const struct {
    std::string command, reply;
  } rows[] = {
      {"FCGET " + kAgent + "3.5.1.5." + kPort0, "1"},
      {"FCGET " + kAgent + "3.5.1.5." + port2, "1"},
      {"FCGET " + kAgent + "3.5.1.7." + kPort0, "First"},
      {"FCGET " + kAgent + "3.5.1.7." + port2, "Second"},
      {"FCGET " + kAgent + "4.4.1.6." + kNode0, "Error:  Send Operations: Driver busy"},
      {"FCSET " + kAgent + "4.4.1.3." + kNode0 + " 2", "Error:  Class Preferences: Driver busy"},
      {"FCSET " + kAgent + "4.9.1.1." + kNode0 + "." + kRemote0 + " 4",
       "Error:  Service Class: Driver busy"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(request(daemon.port(), row.command + "\n"), row.reply) << row.command;
  }
  EXPECT_EQ(fcget(daemon.port(), "3.5.1.3." + kPort0), "Error: driver timeout");
  EXPECT_EQ(fcget(daemon.port(), "3.5.1.5." + kPort0), "1");
}

}  // namespace
}  // namespace tavro::testing
