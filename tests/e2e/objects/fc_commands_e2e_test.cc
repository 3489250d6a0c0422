#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

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
  const std::string remote = kNode0 + "." + kRemote0;
  DaemonProcess daemon_;
};

TEST_F(FcCommands, ReadsOfDiscoveryPortsNodesLxsObjectsAndLocalValues) {
  EXPECT_EQ(fcget(port(), "3.1.0"), "2");
  EXPECT_EQ(fcget(port(), "3.2.1.2.0"), kAdapter0);
  EXPECT_EQ(fcget(port(), "3.2.1.2.1"), "/pvd/pci3/dev1/fcp1");
  EXPECT_EQ(fcget(port(), "3.3.1.1." + kAdapter0), "1");
  EXPECT_EQ(fcget(port(), "3.3.1.2." + kAdapter0), "PCI");
  EXPECT_EQ(fcget(port(), "3.3.1.3." + kAdapter0), "Bus 2, Slot 5");
  EXPECT_EQ(fcget(port(), "3.3.1.4." + kAdapter0), "QS-2310 PCI Fibre Channel Adapter");
  EXPECT_EQ(fcget(port(), "3.4.1.2." + kAdapter0 + ".0"), kPort0);
  EXPECT_EQ(fcget(port(), "3.5.1.3." + kPort0), "2");
  EXPECT_EQ(fcget(port(), "3.7.1.14." + kAdapter0), "1");
  EXPECT_EQ(fcget(port(), "3.5.1.5." + kPort0), "1");
  EXPECT_EQ(fcget(port(), "3.5.1.7." + kPort0), "Quellstone Corporation");
  EXPECT_EQ(fcget(port(), "3.5.1.9." + kPort0), "QS10020345");
  EXPECT_EQ(fcget(port(), "3.6.1.3." + kPort0 + ".0"), "1");  // link up
  EXPECT_EQ(fcget(port(), "3.7.1.1." + kPort0), "4");         // topology 1 reads 4
  EXPECT_EQ(fcget(port(), "3.7.1.3." + kPort0), "2");         // user topology 0 reads 2
  EXPECT_EQ(fcget(port(), "3.7.1.7." + kPort0), "010200");
  EXPECT_EQ(fcget(port(), "3.7.1.13." + kPort0), "08");
  EXPECT_EQ(fcget(port(), "3.7.1.2." + kPort0), kPort0);  // 16 digits, not raw bytes
  EXPECT_EQ(fcget(port(), "3.7.1.2.210000e08b010203"), kPort0);
  EXPECT_GE(std::stoul(fcget(port(), "3.7.1.15." + kPort0)), 1000u);
  EXPECT_EQ(fcget(port(), "4.1.0"), "2");
  EXPECT_EQ(fcget(port(), "4.2.1.2.0"), kNode0);
  EXPECT_EQ(fcget(port(), "4.3.1.2." + kNode0), "1");
  EXPECT_EQ(fcget(port(), "4.3.1.3." + kNode0), "2");
  EXPECT_EQ(fcget(port(), "4.6.1.2." + kNode0 + ".0"), kPort0);
  EXPECT_EQ(fcget(port(), "4.7.1.2." + kNode0 + ".0"), kRemote0);
  EXPECT_EQ(fcget(port(), "4.8.1.1." + remote), "2");
  EXPECT_EQ(fcget(port(), "4.8.1.2." + remote), "00000001");  // an FCP target
  EXPECT_EQ(fcget(port(), "4.11.1.2." + remote + ".1"), "2200002037A1B2C3");
  EXPECT_EQ(fcget(port(), "4.12.1.1." + remote + ".2100002037A1B2C3"), "0102E8");
  EXPECT_EQ(fcget(port(), "4.4.1.1." + kNode0), "QS-2310 host port 0");
  EXPECT_EQ(fcget(port(), "4.4.1.2." + kNode0), "Online");
  EXPECT_EQ(fcget(port(), "4.4.1.3." + kNode0), "3");
  EXPECT_EQ(fcget(port(), "4.9.1.1." + remote), "3");
  EXPECT_EQ(fcget(port(), "4.9.1.4." + remote), "3");  // LUNs
  EXPECT_EQ(fcget(port(), "4.13.1.2." + remote + ".1"), "1");
  EXPECT_EQ(fcget(port(), "4.13.1.3." + remote + ".1"), "0001000000000000");
  // Object 16 as text or as its first 8 bytes, by the row asked for.
  EXPECT_EQ(fcget(port(), "4.13.1.5." + remote + ".0"), "QUELLST ARRAY-9000 R1.2");
  EXPECT_EQ(fcget(port(), "4.13.1.10." + remote + ".0"), "5155454C4C535420");
  EXPECT_EQ(fcget(port(), "1.2.0"), "3.3 Build 43");
  EXPECT_EQ(fcget(port(), "2.13.0"), "3.3 Build 43");
  EXPECT_EQ(fcget(port(), "2.8.0"), "Host system");
  EXPECT_EQ(fcget(port(), "2.9.0"), "Halcyone 2.0");
  EXPECT_EQ(fcget(port(), "3.5.1.2." + kPort0), "HBA");
  EXPECT_EQ(fcget(port(), "3.5.1.4." + kPort0), "2");
  EXPECT_EQ(fcget(port(), "3.5.1.12." + kPort0), "1");
  EXPECT_EQ(fcget(port(), "4.3.1.5." + kNode0), "Quellstone Corporation");
  EXPECT_EQ(fcget(port(), "4.3.1.7." + kNode0), "1");
  EXPECT_EQ(fcget(port(), "2.4.0").rfind("Linux ", 0), 0u);
  EXPECT_FALSE(fcget(port(), "2.3.0").empty());
  EXPECT_GT(std::stoi(fcget(port(), "2.7.0")), 0);
  EXPECT_NO_THROW(std::stoul(fcget(port(), "2.14.0")));
  std::string cpu = fcget(port(), "2.6.0");
  EXPECT_NE(cpu.find(' '), std::string::npos) << cpu;
}

TEST_F(FcCommands, LookupErrorsQuoteWhatTheyCouldNotServe) {
  EXPECT_EQ(fcget(port(), "9.9.9"), "Error: No such member(" + kAgent + "9.9.9)");
  EXPECT_EQ(fcget(port(), ""), "Error: No such member(" + kAgent + ")");
  EXPECT_EQ(fcget(port(), "4.3.1.17"), "Error: Invalid OID length(" + kAgent + "4.3.1.17)");
  EXPECT_EQ(fcget(port(), "3.5.1.3." + kPort0 + ".7"),
            "Error: Invalid OID length(" + kAgent + "3.5.1.3." + kPort0 + ".7)");
  EXPECT_EQ(fcget(port(), "1.1.0"), "Error: Not supported yet()");
  EXPECT_EQ(fcget(port(), "3.7.1.21." + kPort0), "Error: Not supported yet(" + kPort0 + ")");
  const std::string get = "FCGET .1.3.6.1.4.1.48217.", set = "FCSET .1.3.6.1.4.1.48217.";
  EXPECT_EQ(request(port(), get + "1.2.0\n"), "N/A");
  EXPECT_EQ(request(port(), get + "1.2.0 \n"), "Error: No such member(" + get + "1.2.0 )");
  EXPECT_EQ(request(port(), get + "1.1.0\n"), "QS-2310 PCI Fibre Channel Adapter");
  EXPECT_EQ(request(port(), get + "2.1.1.1.0\n"), "Error: No such member(1.1.1.0)");
  // HBA API objects are served by HBAAPI alone, here disabled.
  EXPECT_EQ(request(port(), get + "4.3.0\n"), "Error: Requests disabled.");
  EXPECT_EQ(request(port(), set + "4.1 2\n"), "Error: No such member(" + set + "4.1 2)");
  EXPECT_EQ(fcset(port(), "2.11.0", "5.5"), "Error: No such member(" + kAgent + "2.11.0 5.5)");
  EXPECT_EQ(fcset(port(), "3.7.1.5." + kPort0, "1"), "Error: Not supported yet(" + kPort0 + " 1)");
  std::string stats = request(port(), "STATS\n");
  EXPECT_NE(stats.find("FCGET ;11;FCSET ;3"), std::string::npos) << stats;
}

TEST_F(FcCommands, WritesReplyAndChangeTheModel) {
  EXPECT_EQ(fcget(port(), "2.11.0"), "0");
  EXPECT_EQ(fcget(port(), "4.9.1.2." + remote), "0");
  EXPECT_EQ(fcget(port(), "4.9.1.3." + remote), "2");  // not blocked reads 2
  EXPECT_EQ(fcset(port(), "4.9.1.3." + remote, "1"), remote + " 1");
  EXPECT_EQ(fcget(port(), "4.9.1.3." + remote), "1");
  EXPECT_EQ(fcset(port(), "4.9.1.3." + remote, "2"), remote + " 2");
  EXPECT_EQ(fcget(port(), "4.9.1.3." + remote), "2");  // stored 0, read as 2
  EXPECT_EQ(fcset(port(), "3.5.1.5." + kPort0, "0"), kPort0 + " 0");
  EXPECT_EQ(fcget(port(), "3.5.1.5." + kPort0), "3");  // disabled reads 3
  EXPECT_EQ(fcset(port(), "3.7.1.3." + kPort0, "2"), kPort0 + " 2");
  EXPECT_EQ(fcget(port(), "3.7.1.3." + kPort0), "4");
  const std::string renamed = "210000E08B0102FF";
  EXPECT_EQ(fcset(port(), "3.7.1.2." + kPort0, renamed), kPort0 + " " + renamed);
  EXPECT_EQ(fcget(port(), "3.7.1.4." + renamed), kPort0);  // the factory WWN stays
  EXPECT_EQ(fcset(port(), "4.3.1.7." + kNode0, "5"), "0");
  EXPECT_EQ(fcset(port(), "4.4.1.3." + kNode0, "2"), kNode0 + " 2");
  EXPECT_EQ(fcget(port(), "4.4.1.3." + kNode0), "2");
  EXPECT_EQ(fcset(port(), "4.4.1.3.1111111111111111", "2"),
            "Error:  Class Preferences: Operation failed");
  EXPECT_EQ(fcset(port(), "4.9.1.1." + remote, "4"), remote + " 4");
  EXPECT_EQ(fcget(port(), "4.9.1.1." + remote), "4");
  EXPECT_EQ(fcset(port(), "4.9.1.2." + remote, "7"), remote + " 7");
  EXPECT_EQ(fcget(port(), "4.9.1.2." + remote), "7");
  EXPECT_EQ(fcset(port(), "2.11.0", "1"), " 1");
  EXPECT_EQ(fcget(port(), "2.11.0"), "1");
  const std::string node_name = "200000E08B0102EE";
  EXPECT_EQ(fcset(port(), "4.3.1.1." + kNode0, node_name), kNode0 + " " + node_name);
  EXPECT_EQ(fcget(port(), "4.2.1.2.0"), node_name);
}

TEST_F(FcCommands, WritesWithoutAFittingValueAreRefusedAndChangeNothing) {
  const std::string stored[] = {
      "3.5.1.5." + kPort0, "3.7.1.3." + kPort0, "2.11.0",
      "4.4.1.3." + kNode0, "4.9.1.1." + remote, "4.9.1.2." + remote,
      "4.9.1.3." + remote, "4.2.1.2.0",         "3.4.1.2." + kAdapter0 + ".0"};
  std::string before;
  for (const auto& object : stored) before += fcget(port(), object) + "|";
  const std::vector<std::pair<std::string, std::vector<std::string>>> refused = {
      {"3.5.1.5." + kPort0, {"4294967296", "99999999999", "", "1 2"}},
      {"3.7.1.3." + kPort0, {"abc", "2x"}},
      {"3.7.1.3.210000E08B01020G", {"2"}},
      {"3.7.1.2." + kPort0, {"", "ZZ", "210000E08B01020", "210000E08B0102030", "210000E08B01020G"}},
      {"4.3.1.1." + kNode0, {"", "ZZ", "200000E08B0102EE0"}},
      {"2.11.0", {"", "-2147483649", "4294967296"}},
      {"4.4.1.3." + kNode0, {"1234567", ""}},
      {"4.4.1.3.200000E08B01020", {"2"}},
      {"4.9.1.1." + remote, {"2147483648", "-2147483649", "4x"}},
      {"4.9.1.2." + remote, {"x", "7 8"}},
      {"4.9.1.2." + kNode0 + ".ZZ", {"7"}},
  };
  for (const auto& [object, values] : refused) {
    for (const auto& value : values) {
      EXPECT_EQ(fcset(port(), object, value).rfind("Error: Invalid value(", 0), 0u)
          << object << " " << value;
    }
  }
  EXPECT_EQ(request(port(), "FCSET " + kAgent + "3.5.1.5." + kPort0 + "\n"),
            "Error: Invalid value(" + kPort0 + ")");
  // Without a value the target ID and blocked state are read.
  EXPECT_EQ(request(port(), "FCSET " + kAgent + "4.9.1.2." + remote + "\n"),
            fcget(port(), "4.9.1.2." + remote));
  EXPECT_EQ(fcset(port(), "4.9.1.3." + remote, ""), fcget(port(), "4.9.1.3." + remote));
  std::string after;
  for (const auto& object : stored) after += fcget(port(), object) + "|";
  EXPECT_EQ(after, before);
}

// What the driver does not know is an error at once, not a made-up value.
TEST_F(FcCommands, UnknownPortsNodesAndAdaptersAnswerAnErrorAtOnce) {
  const std::string kUnknown = ": No such adapter, port, node or index";
  const struct {
    std::string object, reply;
  } rows[] = {
      {"3.5.1.3.2100000000000BAD", "FCPH_GET_PORT_SPEED" + kUnknown},
      {"3.5.1.5.2100000000000BAD", "FCPH_GET_PORT_STATE" + kUnknown},
      {"3.7.1.2.2100000000000BAD", "FCPH_GET_PORT_STATE" + kUnknown},
      {"3.5.1.9.2100000000000BAD", "FCPH_GET_PORT_SERIAL_NUMBER" + kUnknown},
      {"4.3.1.2.2000000000000BAD", "FCPH_GET_NODE_PORT_CT" + kUnknown},
      {"4.3.1.18.2000000000000BAD", "FCPH_GET_NODE_PORT_CT" + kUnknown},
      {"4.6.1.2." + kNode0 + ".2", "FCPH_GET_PORTWWN" + kUnknown},
      {"3.3.1.1./pvd/nobody", "HPD_LTX_ADAPTER_INFO" + kUnknown},
      {"3.4.1.2./pvd/nobody.0", "HPD_LTX_ADAPTER_PORTWWN" + kUnknown},
      {"3.2.1.2.8", "LXS_GET_ADAPTER_NAME: Operation failed"},
      {"4.2.1.2.2", "FCPH_GET_NODE_WWN" + kUnknown},
      {"4.4.1.6.1111111111111111", "Send Operations: Operation failed"},
      {"4.9.1.2." + kNode0 + ".2000000000000BAD", "LXS_GET_REMNODE_TGT_ID" + kUnknown},
  };
  for (const auto& row : rows) {
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(fcget(port(), row.object), "Error:  " + row.reply);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1)) << row.object;
  }
  EXPECT_EQ(fcget(port(), "3.5.1.3." + kPort0), "2");
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
