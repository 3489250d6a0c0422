// FCGET and FCSET of the direct objects (".1.3.6.1.4.1.48217.2.") and the
// branch-1 adapter description, through the real daemon, the simulated
// devices (libqv781s.so) and a registry folder of the daemon's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string kDirect = ".1.3.6.1.4.1.48217.2.";
const std::string kDescriptionOid = ".1.3.6.1.4.1.48217.1.1.0";
const std::string kServices = "/registry/System/CurrentControlSet/Services/qv781s/";

// Three adapters on devices 00, 01 and 0A. The first has a SCSI disk array
// and a node without SCSI; every record of the second but its description
// fails; the third has no nodes.
const std::string kAdapters = R"json(
 "adapters": [
  {"name": "/pvd/pci2/dev5/fcp0", "model": "QS-2310 PCI Fibre Channel Adapter",
   "node_wwn": "200000E08B010203",
   "ports": [{"wwn": "210000E08B010203", "serial_number": "QS10020345",
     "remote_nodes": [
       {"wwn": "2000002037A1B2C3", "target_id": 5,
        "ports": [{"wwn": "2100002037A1B2C3", "fc_address": "0x0102E8"}],
        "luns": [{"number": 0, "description": "QUELLST ARRAY-9000      R1.2"}]},
       {"wwn": "5006016000112233", "target_id": 1,
        "ports": [{"wwn": "5006016100112233", "fc_address": "0x0102EF"}]}]}]},
  {"name": "/pvd/pci3/dev1/fcp1", "node_wwn": "200000E08B040506",
   "ports": [{"wwn": "210000E08B040506"}]},
  {"name": "/pvd/pci4/dev2/fcp2", "node_wwn": "200000E08B0A0B0C",
   "ports": [{"wwn": "210000E08B0A0B0C"}]}])json";
const std::string kDevices = R"json([
  {"statistics": [10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28],
   "scsi_stats": [100,101,102,103,104,105,106,107,108,109],
   "net_stats": [1000,1001,1002,1003,1004,1005,1006,1007,1008,1009,1010,1011,1012,
                 1013,1014,1015,1016,1017,1018,1019,1020,1021,1022,1023,1024],
   "registers": [160,161,162,163,164,165,166,167,168,169,170,171,172,173,174,175,176,
                 177,178,179,180],
   "frame": [0,17,34,51,68,85,102,119,136,153,170,187,204,221,238,255,272,289,306,
             323,340,357,374,391,408,425,442,459,476,493,510,527,544,561,578],
   "io_throughput": [1,2,3,4,5], "mb_throughput": [10,20,30,40,50],
   "eeprom": {"words16": [1,2,3,4,65535], "bytes11": [11,12,13,14,15],
              "words32": [305419896,2,3,3735928559], "bytes32": [32,33,34,35],
              "words36": [36,40,44,48,52,56], "address": "0011223344556677",
              "id": "8899AABBCCDDEEFF", "word80": "0xFFABCDEF", "type": "QS2310",
              "serial": "QS10020345XYZ", "bytes106": [106,107,108,109,110,111,112,113],
              "words114": [258,772,65280]},
   "ip_interface": "007"},
  {"fail": ["0x222082", "0x22208E", "0x222092", "0x222012", "0x22209E", "0x222086",
            "0x22208A", "0x222096", "0x2220AE", "0x2220AA"]},
  {"number": 10, "ip_interface": "N/A"}])json";

std::string model(const std::string& devices = kDevices) {
  return "{" + kAdapters + ", \"devices\": " + devices + "}";
}

DaemonOptions options(const std::string& model_json, std::vector<std::string> extra = {}) {
  std::string dir = make_temp_dir();
  write_file(dir + "/model.json", model_json);
  extra.insert(extra.begin(), {"-fcget", "enabled", "-fcset", "enabled"});
  return {.args = extra,
          .env = {{"TAVRO_SIM_MODEL", dir + "/model.json"},
                  {"TAVRO_SIM_DEVICE_LOG", dir + "/devices.log"}},
          .working_dir = dir};
}

std::string get(int port, const std::string& object) {
  return request(port, "FCGET " + kDirect + object + "\n");
}

std::string set(int port, const std::string& object, const std::string& value) {
  return request(port, "FCSET " + kDirect + object + " " + value + "\n");
}

// One daemon on the full model, traced to its output: every handler family,
// then node entries and settings written and read back, then the stop.
TEST(Direct, HandlersNodeEntriesSettingsTracesAndStop) {
  DaemonOptions o = options(model(), {"-d", "0x180000"});
  o.env.emplace_back("TAVRO_DEBUG_OUTPUT", "stderr");
  DaemonProcess daemon(o);
  int port = daemon.port();
  const std::string frame =
      "0:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:110:121:132:143:154:165:176:187:198:1a9:"
      "1ba:1cb:1dc:1ed:1fe:20f:220:231:242:";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"1.1.1.1.0", "Quellstone Corporation"},
      {"1.1.1.2.0", "Fibre Channel Adapter"},
      {"1.1.1.3.0", "200000E08B010203"},
      {"1.3.2.1.1.1.0", "200000E08B010203"},
      {"1.3.2.1.1.2.0", "210000E08B010203"},
      {"1.3.2.1.1.5.0", "00E08B010203"},
      {"1.4.2.1.0", frame},
      {"1.4.4.1.0", "3:4:1:2:5"},
      {"1.4.4.2.0", "30:40:10:20:50"},
      {"1.4.4.3.0", "100"},
      {"1.3.1.1.0", "2048"},
      {"1.3.1.2.0", "0"},
      {"1.3.1.3.0", "1"},
      {"1.3.1.4.0", "1"},
      {"1.3.1.5.0", "1"},
      {"1.3.1.6.0", "2"},
      {"1.3.1.7.0", "2"},
      {"1.3.1.8.0", "2"},
      {"1.2.1.1.0", "2"},
      {"1.3.2.1.1.3.0", "2"},
      {"1.3.3.1.0", "qv781i007"},
      {"2.4.4.3.0", "100"},
      {"2.1.1.1.0", "Quellstone Corporation"},
      {"2.3.2.1.1.3.0", "3"},
      {"3.3.2.1.1.3.0", "1"},
      {"3.3.3.1.0", "N/A"},
      {"1", "Error: No Such Member"},
      {"1.1.2.0", "Error: No such member(1.1.2.0)"},
      {"1.4.3.1.0", "Error: Not supported yet(1.4.3.1.0)"},
      {"2.1.1.4.0", "Error: fcdiGetStatistics() FC IO error"},
      {"2.4.1.1.0", "Error: fc_diag_tach() FC IO error"},
      {"2.1.2.1.0", "Error: fcdiSCSIStats() FC IO error"},
      {"2.1.3.1.0", "Error: fcdiNetStats() FC IO error"},
      {"2.1.1.3.0", "Error: fcdiGetWwn() FC IO error"},
      {"2.3.2.1.1.2.0", "Error: fcdiGetWwn() FC IO error"},
      {"2.4.2.1.0", "Error: fc_diag_frame() FC IO error"},
      {"2.4.4.1.0", "Error: fcdi_IO_throughput() FC IO error"},
      {"2.4.4.2.0", "Error: fcdi_MB_throughput() FC IO error"},
      {"2.2.1.1.0", "Error: fcdiGetNodes() FC IO error"},
      {"2.2.1.2.1", "Error: fcdiGetNodes() FC IO error"},
      {"1.3.2.1.1.4.0", "QS2310 QS10020345XYZ"},
      {"2.3.2.2.1.1.1.0", "Error: fcdiGetSerialEeprom() FC IO error"},
      {"2.3.2.1.1.4.0", "Error: fc_adap_type() FC IO error"},
      {"2.3.3.1.0", "Error: fcdiGetRawSerialEeprom() FC IO error"},
      {"0.1.1.1.0", "Error: Illegal Adapter(0)"},
      {"8.1.1.1.0", "Error: Adapter(7) Inactive"},
      {"9.1.1.1.0", "Error: Illegal Adapter(8)"},
      {"99999999999999999999.1.1.1.0", "Error: Illegal Adapter(9223372036854775806)"},
      {"4.1.1.1.0", "Error: Adapter(3) Inactive"},
      {"0x1.1.1.1.0", "Quellstone Corporation"},
      {"1.1.1.1.0x", "Error: No such member(1.1.1.1.0x)"},
      {"1.9.9", "Error: No such member(1.9.9)"},
  };
  for (const auto& [object, reply] : rows) EXPECT_EQ(get(port, object), reply) << object;
  // Counters and registers, first and last of each record, then the serial
  // EEPROM fields in the adapter's order (27 is 0xFFABCDEF shifted right by 8,
  // sign filled).
  std::string values;
  for (const char* object : {"1.1.1.4", "1.1.1.22", "1.1.2.1", "1.1.2.10", "1.1.3.1", "1.1.3.17",
                             "1.1.3.18", "1.1.3.25", "1.4.1.1", "1.4.1.21"}) {
    values += get(port, object + std::string(".0")) + "|";
  }
  for (int field :
       {1, 5, 6, 10, 11, 14, 15, 18, 19, 24, 25, 26, 28, 27, 29, 30, 31, 38, 39, 40, 41}) {
    values += get(port, "1.3.2.2.1.1." + std::to_string(field) + ".0") + "|";
  }
  EXPECT_EQ(values,
            "10|28|100|109|1000|1016|1017|1024|160|180|1|65535|11|15|305419896|3735928559|32|35|36|"
            "56|0011223344556677|8899AABBCCDDEEFF|239|4294945741|515332333130|"
            "5153313030323033343558595A|106|113|258|772|65280|");
  EXPECT_NE(daemon.output().find("Dump regs failed: 5"), std::string::npos) << daemon.output();
  // Only the first word of a throughput record is dumped.
  EXPECT_NE(daemon.output().find("01 00 00 00" + std::string(37, ' ') + "....            \n"),
            std::string::npos)
      << daemon.output();

  const std::string services = daemon.dir() + kServices;
  EXPECT_EQ(get(port, "1.2.1.2.1"),
            "2000002037a1b2c3:00000005:00000000:QUELLST ARRAY-9000      R1.2");
  EXPECT_EQ(get(port, "1.2.1.2.2"), "5006016000112233:00000001:00000000:Non-SCSI Device");
  EXPECT_EQ(get(port, "1.2.1.2.3"), std::string(1, '\0'));
  EXPECT_EQ(get(port, "1.2.1.2.0"), "Error: fc_get_node() Invalid Node");
  EXPECT_EQ(get(port, "1.2.1.2.x"), "Error: fc_get_node() Invalid Node");
  EXPECT_EQ(set(port, "1.2.1.2.", "2000002037a1b2c3:0:1F"), "OK");
  EXPECT_EQ(get(port, "1.2.1.2.1"),
            "2000002037a1b2c3:00000005:0000001f:QUELLST ARRAY-9000      R1.2");
  EXPECT_EQ(read_file(services + "qv781s00/Devices/2000002037a1b2c3"), "31\n");
  for (const char* bad :
       {"2000002037a1b2c3", "2000002037a1b2c3:0", "x:0:zz", "..:0:1", "a:0:100000000"}) {
    EXPECT_EQ(set(port, "1.2.1.2.", bad), "Error: fcdiSetNode() FC Invalid") << bad;
  }
  EXPECT_EQ(set(port, "1.3.1.1.0", "0"), "OK");
  EXPECT_EQ(get(port, "1.3.1.1.0"), "0");
  EXPECT_EQ(set(port, "1.3.1.1.0", "abc"), "Error: fcdiSetKey() FC Invalid");
  EXPECT_EQ(get(port, "1.3.1.1.0"), "0");
  EXPECT_EQ(set(port, "1.3.1.8.0", "0x10"), "OK");
  EXPECT_EQ(get(port, "1.3.1.8.0"), "16");
  EXPECT_EQ(read_file(services + "qv781s00/LogError"), "16\n");
  EXPECT_EQ(request(port, "FCSET " + kDirect + "1.3.1.1.0\n"), "Error: No such member(1.3.1.1.0)");
  EXPECT_EQ(set(port, "1.1.1.1.0", "5"), "Error: No such member(1.1.1.1.0 5)");
  // Device ten keeps its settings under 0A and, in a registry of its own (key
  // names match in any case), its nodes under 0a.
  EXPECT_EQ(set(port, "3.3.1.1.0", "1024"), "OK");
  EXPECT_EQ(read_file(services + "qv781s0A/MaxFrameSize"), "1024\n");
  DaemonProcess fresh(options(model()));
  EXPECT_EQ(set(fresh.port(), "3.2.1.2.", "00aa:0:2"), "OK");
  EXPECT_EQ(read_file(fresh.dir() + kServices + "qv781s0a/Devices/00aa"), "2\n");
  EXPECT_EQ(daemon.stop(), 0);
  EXPECT_NE(daemon.output().find("TAVRO: program exiting.\n"), std::string::npos);
  std::string log = read_file(daemon.dir() + "/devices.log");
  for (const char* line : {"open \\\\.\\qv781s00 ok\n", "open \\\\.\\qv781s01 ok\n",
                           "open \\\\.\\qv781s0A ok\n", "close 00\n", "close 01\n", "close 0A\n"}) {
    EXPECT_EQ(occurrences(log, line), 1) << line << log;
  }
  EXPECT_NE(daemon.output().find("FCOPEN(2) found 0xa"), std::string::npos) << daemon.output();
}

// The first device cannot describe itself nor name its network interface,
// and the registry's root or a key folder cannot be opened. A registry that
// does not exist yet holds no values: reads give the defaults, a write makes it.
TEST(Direct, FailuresOfTheFirstDeviceAndOfTheRegistry) {
  DaemonOptions o = options(model(R"([{"fail": ["0x222022", "0x222064"]}])"));
  const std::string root = o.working_dir + "/absent/registry";
  o.env.emplace_back("TAVRO_REGISTRY_DIR", root);
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(request(port, "FCGET " + kDescriptionOid + "\n"), "Error: FC IO error");
  EXPECT_EQ(get(port, "1.3.3.1.0"), "Error: fcdiGetIpAddr() FC IO error");
  EXPECT_EQ(daemon.output().find("TAVRO: Running"), std::string::npos) << "no debugger output";
  EXPECT_EQ(get(port, "1.3.1.1.0"), "2048");
  EXPECT_EQ(set(port, "1.3.1.1.0", "1024"), "OK");
  EXPECT_EQ(get(port, "1.3.1.1.0"), "1024");
  EXPECT_EQ(read_file(root + kServices.substr(9) + "qv781s00/MaxFrameSize"), "1024\n");
  std::filesystem::remove_all(root);
  write_file(root, "a file where the folder of HKEY_LOCAL_MACHINE should be");
  EXPECT_EQ(get(port, "1.3.1.1.0"), "Error: fc_settings(16) NT Registry error 1");
  EXPECT_EQ(set(port, "1.3.1.1.0", "1"), "Error: fcdiSetKey() NT Registry error 1");
  EXPECT_EQ(set(port, "1.2.1.2.", "00aa:0:1"), "Error: fcdiSetNode() NT Registry error 1");
  ::unlink(root.c_str());
  ::mkdir(root.c_str(), 0755);
  write_file(root + "/System", "a file where a key should be");
  EXPECT_EQ(get(port, "1.3.1.1.0"), "Error: fc_settings(17) NT Registry error 2");
  EXPECT_EQ(set(port, "1.3.1.1.0", "1"), "Error: fcdiSetKey() NT Registry error 2");
}

TEST(Direct, WithoutDevicesEverySlotIsEmptyAndTheDevicesAreProbedOnce) {
  const std::string absent = R"([{"present": false}, {"present": false}, {"present": false}])";
  DaemonOptions o = options(model(absent), {"-d", "0x80000"});
  o.env.emplace_back("TAVRO_DEBUG_OUTPUT", o.working_dir + "/debug.out");  // debugger output
  DaemonProcess daemon(o);
  int port = daemon.port();
  EXPECT_EQ(get(port, "1.1.1.1.0"), "Error: Adapter(0) Inactive");
  EXPECT_EQ(read_file(o.working_dir + "/debug.out").rfind("TAVRO: Running WinMain().\n", 0), 0u);
  EXPECT_EQ(daemon.output().find("TAVRO: Running"), std::string::npos) << "only to the file";
  EXPECT_EQ(get(port, "1.1.1.1.0"), "Error: Adapter(0) Inactive");
  EXPECT_EQ(request(port, "FCGET " + kDescriptionOid + "\n"), "Error: Not supported yet()");
  std::string log = read_file(daemon.dir() + "/devices.log");
  EXPECT_EQ(occurrences(log, "missing\n"), 128);
  EXPECT_EQ(occurrences(log, "ok\n"), 0);
  EXPECT_NE(daemon.output().find("FCOPEN() 0=2 1=2 2=2 3=2 4=2 5=2 6=2 7=2"), std::string::npos)
      << daemon.output();
}

}  // namespace
}  // namespace tavro::testing
