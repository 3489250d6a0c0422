// Failures of the driver side, injected through the simulator's model file.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/e2e/objects/objects_e2e.h"

namespace tavro::testing {
namespace {

std::string model_with_faults(const std::string& faults) {
  std::string dir = make_temp_dir();
  std::string path = dir + "/model.json";
  write_file(path, R"({"adapters": [{"name": "/pvd/pci2/dev5/fcp0",
    "node_wwn": "200000E08B010203",
    "ports": [{"wwn": "210000E08B010203", "speed": 4, "fc_address": "0x010200"}]}],
    "devices": [{"present": false}], "faults": )" +
                       faults + "}");
  return path;
}

TEST(FcFaults, ClosedChannelAnswersDriverNotOpenedButLocalObjectsStillAnswer) {
  DaemonProcess daemon(object_daemon(model_with_faults(R"({"refuse_register": 1000})")));
  int port = daemon.port();
  EXPECT_EQ(fcget(port, "3.5.1.3." + kPort0), "Error: Driver not opened");
  EXPECT_EQ(fcget(port, "4.4.1.6." + kNode0), "Error: Driver not opened");
  EXPECT_EQ(fcset(port, "3.5.1.5." + kPort0, "1"), "Error: Driver not opened");
  EXPECT_EQ(fcget(port, "4.3.1.17." + kNode0).substr(0, 12), "-1|-1|-1|-1|");
  EXPECT_EQ(fcget(port, "3.3.1.3." + kAdapter0), "Bus 2, Slot 5");
  EXPECT_EQ(fcget(port, "4.3.1.7." + kNode0), "0");
  EXPECT_EQ(request(port, "FCGET .1.3.6.1.4.1.48217.1.1.0\n"),
            "Error: No such member(.1.3.6.1.4.1.48217.1.1.0)");
}

TEST(FcFaults, FailedObjectStatusNamesObjectAndStatus) {
  DaemonProcess daemon(object_daemon(
      model_with_faults(R"({"messages": [{"message": "0x0B00001E", "lxs_status": 3}]})")));
  int port = daemon.port();
  EXPECT_EQ(fcget(port, "4.4.1.6." + kNode0), "Error:  Send Operations: Driver busy");
  EXPECT_EQ(fcget(port, "3.5.1.3." + kPort0), "4");  // other services unaffected
}

TEST(FcFaults, FailedObjectWritesAnswerTheirErrorText) {
  DaemonProcess daemon(object_daemon(
      model_with_faults(R"({"messages": [{"message": "0x0B00001E", "lxs_status": 5}]})")));
  const struct {
    std::string object, value, reply;
  } writes[] = {
      {"4.4.1.3." + kNode0, "2", "Error:  Class Preferences: Fatal Error"},
      {"4.9.1.1." + kNode0 + "." + kRemote0, "4", "Error:  Service Class: Fatal Error"},
  };
  for (const auto& w : writes) {
    EXPECT_EQ(fcset(daemon.port(), w.object, w.value), w.reply) << w.object;
  }
}

TEST(FcFaults, AnswersOnTheCallersThreadTwiceOrLateReachOnlyTheirOwnRequest) {
  const std::string port1 = "210000E08B010203", port2 = "210000E08B010204";
  std::string dir = make_temp_dir();
  write_file(dir + "/model.json", R"({"adapters": [{"name": "/pvd/pci2/dev5/fcp0",
    "node_wwn": "200000E08B010203",
    "ports": [{"wwn": "210000E08B010203", "speed": 4, "vendor": "First"},
              {"wwn": "210000E08B010204", "speed": 8, "vendor": "Second"}]}],
    "devices": [{"present": false}],
    "faults": {"messages": [{"message": "0x15000018", "caller_thread": true},
                            {"message": "0x1500001C", "twice": true},
                            {"message": "0x15000016", "late": true}]}})");
  DaemonProcess daemon(object_daemon(dir + "/model.json"));
  int port = daemon.port();
  EXPECT_EQ(fcget(port, "3.5.1.5." + port1), "1");
  EXPECT_EQ(fcget(port, "3.5.1.5." + port2), "1");
  EXPECT_EQ(fcget(port, "3.5.1.7." + port1), "First");
  EXPECT_EQ(fcget(port, "3.5.1.7." + port2), "Second");
  EXPECT_EQ(fcget(port, "3.5.1.3." + port1), "Error: driver timeout");
  // Port 1's answer comes now, just before port 2's own.
  EXPECT_EQ(fcget(port, "3.5.1.3." + port2), "8");
  EXPECT_EQ(fcget(port, "3.5.1.3." + port1), "4");
}

TEST(FcFaults, AllocationFailureIsRepliedAndTheNextRequestIsServed) {
  DaemonProcess daemon(object_daemon(model_with_faults(R"({"alloc_fail": 1})")));
  int port = daemon.port();
  EXPECT_EQ(fcget(port, "3.5.1.3." + kPort0), "Error: message allocation failed");
  EXPECT_EQ(fcget(port, "3.5.1.3." + kPort0), "4");
}

TEST(FcFaults, SilentDriverTimesOutAndTheDaemonGoesOn) {
  DaemonProcess daemon(object_daemon(
      model_with_faults(R"({"messages": [{"message": "0x15000016", "no_answer": true}]})")));
  int port = daemon.port();
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(fcget(port, "3.5.1.3." + kPort0), "Error: driver timeout");
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_EQ(fcget(port, "3.5.1.5." + kPort0), "1");
}

}  // namespace
}  // namespace tavro::testing
