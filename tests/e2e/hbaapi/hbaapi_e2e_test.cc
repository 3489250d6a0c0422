// HBAAPI through the daemon and the simulated HBA API library.
#include "tests/e2e/hbaapi/hbaapi_e2e.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace tavro::testing {
namespace {

std::string model_with_hbaapi_faults(const std::string& faults) {
  std::string path = make_temp_dir() + "/model.json";
  write_file(path, R"({"adapters": [{"name": "/pvd/pci2/dev5/fcp0",
    "node_wwn": "200000E08B010203",
    "ports": [{"wwn": "210000E08B010203", "speed": 4, "fc_address": "0x010200",
               "counters": {"tx_seqs": 77}}]}],
    "hbaapi": )" + faults +
                       "}");
  return path;
}

TEST(HbaApiE2e, RequestsThatFailBeforeTheCall) {
  DaemonProcess daemon(hbaapi_daemon());
  const struct {
    const char* request;
    const char* reply;
  } kCases[] = {
      {"24.0", "Error: Unknown ID(24)."},
      {"-1.0", "Error: Unknown ID(-1)."},
      {"x.0", "Error: Invalid ID format."},
      {"3x.0", "Error: Invalid ID format."},
      {"99999999999999999999.0", "Error: Invalid ID format."},
      {"", "Error: Invalid request format."},
      {"4.0", "Error: Incorrect param count(Expect 2, Got 1)."},
      {"3", "Error: Incorrect param count(Expect 1, Got 0)."},
      {"11.0.1.0", "Error: Function not implemented yet: HBA_GetPortAttributesByWWN."},
      {"17.0.1.0", "Error: HBAAPI Error Bad Func Type (0x221)."},
      {"12.0.1.x.5", "Error: HBAAPI Error Bad Func Type (0x321)."},
      {"12.0.1.x.257", "Error: Parameter out of range(257)."},  // beyond the request buffer
      {"4.0.4294967296", "Error: Parameter out of range(4294967296)."},
      {"4.0.7", "Error: HBAAPI Error:Index not recognized (6)"},
      {"7.0.1234", "Error: HBAAPI Error:invalid handle (3)"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(hbaapi(daemon.port(), c.request), c.reply) << c.request;
  }
}

// A client's whole session: count, name, open, attributes, statistics,
// discovered ports, close.
TEST(HbaApiE2e, ASessionAsAClientRunsIt) {
  DaemonProcess daemon(hbaapi_daemon());
  int port = daemon.port();
  EXPECT_EQ(hbaapi(port, "0.0"), "2");
  EXPECT_EQ(hbaapi(port, "3.0"), "2");
  EXPECT_EQ(hbaapi(port, "4.0.0"), kHbaAdapter0);
  EXPECT_EQ(hbaapi(port, "4.1.0"), kHbaAdapter0);
  EXPECT_EQ(hbaapi(port, "4.2.0"), "Error: Field Index Out of Range (2)");
  const std::string h = hbaapi(port, "5.0." + kHbaAdapter0);
  ASSERT_EQ(h, "00000001");
  EXPECT_EQ(hbaapi(port, "5.0.nosuch"), "00000000");
  EXPECT_EQ(hbaapi(port, "7.5." + h), "200000E08B010203");
  EXPECT_EQ(hbaapi(port, "7.12." + h), "1");
  EXPECT_EQ(hbaapi(port, "7.14." + h), "Error: Field Index Out of Range (14)");
  EXPECT_EQ(hbaapi(port, "8.2." + h + ".0"), "210000E08B010203");
  EXPECT_EQ(hbaapi(port, "8.3|" + h + "|0"), "010200");
  EXPECT_EQ(hbaapi(port, "8.0." + h + ".1"), "Error: HBAAPI Error:Index not recognized (6)");
  std::string stats = hbaapi(port, "9.0." + h + ".0");
  EXPECT_EQ(std::count(stats.begin(), stats.end(), '|'), 14) << stats;
  std::string tx = hbaapi(port, "9.2." + h + ".0");
  EXPECT_EQ(tx.find_first_not_of("0123456789"), std::string::npos) << tx;
  EXPECT_EQ(hbaapi(port, "10.2." + h + ".0.0"), "2100002037A1B2C3");
  EXPECT_EQ(hbaapi(port, "10.0." + h + ".0.9"), "Error: HBAAPI Error:Index not recognized (6)");
  EXPECT_EQ(hbaapi(port, "15.1." + h).substr(0, 1).find_first_of("123456789"), 0u);
  EXPECT_EQ(hbaapi(port, "16.2." + h), "01000000");  // TO_WWN
  EXPECT_EQ(hbaapi(port, "19.1." + h), "200000E08B010203");
  EXPECT_EQ(hbaapi(port, "14.0." + h + ".0"), std::string(1, '\0'));
  EXPECT_EQ(hbaapi(port, "6.0." + h), std::string(1, '\0'));
  EXPECT_EQ(hbaapi(port, "7.0." + h), "Error: HBAAPI Error:invalid handle (3)");
  EXPECT_EQ(request(port, "STATS HBAAPI \n"), "HBAAPI ;23");
}

TEST(HbaApiE2e, FcgetServesTheHbaApiBranch) {
  DaemonProcess daemon(hbaapi_daemon());
  EXPECT_EQ(request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.4.3.0\n"), "2");
  EXPECT_EQ(request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.4.4.0.1\n"), "/pvd/pci3/dev1/fcp1");
  EXPECT_EQ(request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.4.24.0\n"), "Error: Unknown ID(24).");
}

TEST(HbaApiE2e, RequestsAreDisabledByDefault) {
  DaemonOptions o;
  o.args = {"-fcget", "enabled"};
  DaemonProcess daemon(o);
  EXPECT_EQ(hbaapi(daemon.port(), "3.0"), "Error: Requests disabled.");
  EXPECT_EQ(request(daemon.port(), "FCGET .1.3.6.1.4.1.48217.4.3.0\n"),
            "Error: Requests disabled.");
}

TEST(HbaApiE2e, AFunctionMissingFromTheLibraryIsNotSupported) {
  DaemonProcess daemon(
      hbaapi_daemon({{"TAVRO_SIM_MODEL",
                      model_with_hbaapi_faults(R"({"missing": ["HBA_GetPortStatistics"]})")}}));
  int port = daemon.port();
  EXPECT_EQ(hbaapi(port, "9.0.1.0"),
            "Error: HBA_GetPortStatistics(9) not supported by API Library.");
  EXPECT_EQ(hbaapi(port, "3.0"), "1");
  EXPECT_NE(daemon.output().find("Function 'HBA_GetPortStatistics' (9) Not found in hbaapi.DLL"),
            std::string::npos);
}

TEST(HbaApiE2e, AStatusOfTheLibraryIsReplied) {
  DaemonProcess daemon(hbaapi_daemon(
      {{"TAVRO_SIM_MODEL", model_with_hbaapi_faults(R"({"status": {"HBA_GetAdapterAttributes": 1,
        "HBA_GetPortStatistics": 9}})")}}));
  int port = daemon.port();
  ASSERT_EQ(hbaapi(port, "5.0." + kHbaAdapter0), "00000001");
  EXPECT_EQ(hbaapi(port, "7.0.1"), "Error: HBAAPI Error:general (1)");
  EXPECT_EQ(hbaapi(port, "9.0.1.0"), "Error: HBAAPI Error:Code 9 (9)");
}

TEST(HbaApiE2e, ACrashInsideTheLibraryIsLoggedAndTheDaemonServesOn) {
  DaemonProcess daemon(
      hbaapi_daemon({{"TAVRO_SIM_MODEL",
                      model_with_hbaapi_faults(R"({"crash": {"HBA_GetPortStatistics": 11}})")}}));
  int port = daemon.port();
  ASSERT_EQ(hbaapi(port, "5.0." + kHbaAdapter0), "00000001");
  EXPECT_EQ(hbaapi(port, "9.2.1.0"),
            "Error: HBAAPI Error:Program Exception in HBA_GetPortStatistics");
  EXPECT_EQ(hbaapi(port, "9.2.1.0"), "77");
  EXPECT_TRUE(
      wait_for_text(daemon.dir() + "/events.log", "Program Exception: HBA_GetPortStatistics"));
}

}  // namespace
}  // namespace tavro::testing
