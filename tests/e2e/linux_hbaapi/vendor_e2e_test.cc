// The Linux libraries on copies of the sysfs fixture trees, through the real
// daemon: HBAAPI through the system's common library to libtavrohba.so, in a
// private mount namespace with its own /etc/hba.conf; an independent SNIA
// client in C the same way; the direct objects from libqv781s.so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/linux_host.h"

namespace tavro::testing {
namespace {

namespace fs = std::filesystem;

const std::string kNul(1, '\0');

std::string fixture(const std::string& name) {
  return sysfs_fixture(name);
}

struct Row {
  const char* fixture;
  std::string request, reply;
};

const std::string h = "00000001";  // the first handle of each daemon

const Row kSession[] = {
    {"dual_port", "3.0", "1"},
    {"dual_port", "4.0.0", "pci0000:3b/dev00"},
    {"dual_port", "4.0.1", "Error: HBAAPI Error:Index not recognized (6)"},
    {"dual_port", "5.0.nosuch", "00000000"},
    {"dual_port", "5.0.pci0000:3b/dev00", h},
    {"dual_port", "7.0." + h,
     "|TVX2051K0123|TV-2602|Dual port 16Gb FC adapter|20000024FF3A5B10|TV-2602 FW:v8.08.231 "
     "DVR:v10.02.07.900-k||10.02.07.900-k||8.08.231 (d0d5)|00000000|2|qla2xxx"},
    {"dual_port", "8.0." + h + ".0",
     "20000024FF3A5B10|21000024FF3A5B10|010A00|00000005|00000002|00000008|" + std::string(64, '0') +
         "|" + std::string(64, '0') +
         "|TV-2602 FW:v8.08.231 DVR:v10.02.07.900-k|/sys/class/fc_host/host3|00000038|00000020|"
         "00000800|100000051E0A0B0C|3"},
    {"dual_port", "8.14." + h + ".1", "0000000000000000"},  // fabric name never set
    {"dual_port", "8.0." + h + ".2", "Error: HBAAPI Error:Index not recognized (6)"},
    {"dual_port", "9.0." + h + ".0",
     "4353|4610|4867|5124|5381|5638|5895|6152|6409|6666|6923|7180|7437|7694|7951"},
    {"dual_port", "9.15." + h + ".1", "12047"},
    {"dual_port", "10.0." + h + ".0.0",
     "200000D0B2C3D4E5|210000D0B2C3D4E5|010B00|00000001|00000002|00000008|0000010000" +
         std::string(54, '0') + "|0000010000" + std::string(54, '0') +
         "|||00000000|00000000|00000000|0000000000000000|0"},
    {"dual_port", "10.6." + h + ".0.1", "0000000C"},  // Class 2, Class 3
    {"dual_port", "10.7." + h + ".0.2", std::string(64, '0')},
    {"dual_port", "10.0." + h + ".0.3", "Error: HBAAPI Error:Index not recognized (6)"},
    {"dual_port", "10.0." + h + ".1.0", "Error: HBAAPI Error:Index not recognized (6)"},
    {"dual_port", "15.0." + h,
     "3|/dev/sdb|0|0|0|010B00|200000D0B2C3D4E5|210000D0B2C3D4E5|0000000000000000"},
    {"dual_port", "16.0." + h, "Error: HBAAPI Error:Function not supported (2)"},
    {"dual_port", "13.0." + h, kNul},
    {"dual_port", "14.0." + h + ".0", kNul},
    {"dual_port", "6.0." + h, kNul},
    {"dual_port", "7.0." + h, "Error: HBAAPI Error:invalid handle (3)"},
    // What the kernel does not tell stays empty; counters it does not keep are all ones.
    {"sparse", "3.0", "2"},  // the common library learns the adapters here
    {"sparse", "5.0.pci0000:12/dev00", h},
    {"sparse", "7.0." + h, "||||0000000000000000||||||00000000|1|qla2xxx"},
    {"sparse", "8.0." + h + ".0",
     "0000000000000000|21000011AABBCC02|000000|00000001|00000002|00000000|" + std::string(64, '0') +
         "|" + std::string(64, '0') +
         "||/sys/class/fc_host/host2|00000000|00000000|00000000|0000000000000000|0"},
    {"sparse", "9.0." + h + ".0", "-1|-1|-1|-1|-1|-1|-1|-1|-1|-1|-1|-1|-1|-1|-1"},
    {"sparse", "5.0.pci0000:13/dev00", "00000002"},
    {"sparse", "9.0.00000002.0",
     "20737|-1|4294967312|-1|-1|22022|22279|0|22793|23050|23307|23564|23821|24078|24335"},
    {"sparse", "8.12.00000002.0", "00000005"},  // "Not Negotiated"
    // The transport's own driver attributes and FC-4 types.
    {"fcoe", "3.0", "2"},
    {"fcoe", "5.0.pci0000:02/dev00", h},
    {"fcoe", "7.0." + h,
     "Tavro Networks|TNE3300456|TN-10E|Tavro 10GbE converged adapter|1000D4C9EFA1B2C6|fcoe v0.1 "
     "over eth2|B2|0.1||7.13.1|00000000|1|fcoe"},
    {"fcoe", "8.7." + h + ".0", "0000012000" + std::string(52, '0') + "80"},
    {"fcoe", "8.8." + h + ".0", "000001" + std::string(58, '0')},
    {"fcoe", "8.12." + h + ".0", "00000004"},  // 10 Gbit
    {"fcoe", "5.0.host9", "00000002"},
    {"fcoe", "8.5.00000002.0", "00000003"},  // Offline
    // Multipath: each card its own paths; a path gone after its device loss timeout.
    {"multipath", "3.0", "2"},
    {"multipath", "5.0.pci0000:41/dev00", h},
    {"multipath", "8.15." + h + ".0", "3"},
    {"multipath", "10.0." + h + ".0.1",
     "0000000000000000|0000000000000000|000000|00000001|00000003|00000008|" + std::string(64, '0') +
         "|" + std::string(64, '0') + "|||00000000|00000000|00000000|0000000000000000|0"},
    {"multipath", "10.2." + h + ".1.0", "50060E8000AA0003"},
    {"multipath", "5.0.pci0000:42/dev00", "00000002"},
    {"multipath", "10.2.00000002.0.0", "50060E8000AA0002"},
    {"multipath", "9.2.00000002.0", "-1"},  // tx_frames 2^63
};

TEST(LinuxHbaApi, ASessionThroughTheCommonLibraryEqualsTheFixture) {
  if (std::string why = no_namespace(); !why.empty()) GTEST_SKIP() << why;
  for (const char* tree : {"dual_port", "sparse", "fcoe", "multipath"}) {
    std::string root = fixture(tree);
    DaemonProcess daemon(linux_daemon(root));
    for (const Row& r : kSession) {
      if (std::string(r.fixture) != tree) continue;
      EXPECT_EQ(request(daemon.port(), "HBAAPI " + r.request + "\n"), r.reply)
          << tree << " " << r.request;
    }
    if (std::string(tree) == "sparse") {  // an adapter removed while open
      fs::remove(root + "/class/fc_host/host5");
      // The library's view of the hosts is up to a second old.
      const std::string gone = "Error: HBAAPI Error:Code 12 (12)";
      std::string got;
      for (int i = 0; i < 100 && (got = request(daemon.port(), "HBAAPI 8.0.00000002.0\n")) != gone;
           ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      EXPECT_EQ(got, gone);
    }
    if (std::string(tree) == "dual_port") {
      EXPECT_EQ(read_file(root + "/class/fc_host/host3/statistics/reset_statistics"), "1");
      // FCGET through the Linux driver message library agrees.
      const std::string t = "FCGET .1.3.6.1.4.1.48217.3.", a = "pci0000:3b/dev00";
      const std::pair<std::string, std::string> kSame[] = {
          {"3.0", t + "3.1.0"},
          {"4.0.0", t + "3.2.1.2.0"},
          {"8.2.00000002.0", t + "3.4.1.2." + a + ".0"},
          {"8.1.00000002.0", t + "4.2.1.2.0"},
      };
      ASSERT_EQ(request(daemon.port(), "HBAAPI 5.0." + a + "\n"), "00000002");
      for (const auto& [api, fcget] : kSame) {
        EXPECT_EQ(request(daemon.port(), "HBAAPI " + api + "\n"),
                  request(daemon.port(), fcget + "\n"))
            << api;
      }
    }
  }
}

TEST(LinuxHbaApi, AnIndependentSniaClientListsTheAdapters) {
  if (std::string why = no_namespace(); !why.empty()) GTEST_SKIP() << why;
  std::string command = "TAVRO_SYSFS_ROOT='" + fixture("dual_port") + "' TAVRO_VENDOR_LIB='" +
                        binary_dir() + "/linux/libtavrohba.so' unshare";
  for (const std::string& word : in_namespace(binary_dir() + "/snia_client"))
    command += " '" + word + "'";
  ClientResult out = run_command(command);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.output,
            "1 adapters, library 2 tavro 3.3 Build 43 libtavrohba.so\n"
            "pci0000:3b/dev00: TV-2602 \"Dual port 16Gb FC adapter\" serial TVX2051K0123 node "
            "20000024FF3A5B10 ports 2 driver qla2xxx 10.02.07.900-k\n"
            " port 0 mapping V2 7, 0: 3 entries\n"
            " port 0 21000024FF3A5B10 fcid 010A00 state 2 speed 0x20 of 0x38 remote 3, by WWN 0 3\n"
            "  remote 210000D0B2C3D4E5 fcid 010B00 state 2, by WWN 0 010B00\n"
            "  remote 220000D0B2C3D4F6 fcid 010C00 state 2, by WWN 0 010C00\n"
            "  remote 21FFFC0A0B0C0D0E fcid FFFFFC state 2, by WWN 0 FFFFFC\n"
            " port 1 mapping V2 0, 0: 0 entries\n"
            " port 1 21000024FF3A5B11 fcid 000000 state 6 speed 0x0 of 0x38 remote 0, by WWN 0 0\n"
            " /dev/sdb 0:0:0 fcid 010B00 port 210000D0B2C3D4E5 lun 0000000000000000\n"
            " /dev/sdc 0:0:1 fcid 010B00 port 210000D0B2C3D4E5 lun 0001000000000000\n"
            " /dev/sg3 0:1:5 fcid 010C00 port 220000D0B2C3D4F6 lun 0005000000000000\n"
            " open by node WWN 0\n");
}

// Direct objects from the Linux device provider (.2.<adapter>.<object>) and
// the description of the first adapter (.1.1.0).
const Row kDirect[] = {
    {"dual_port", "1.1.0", "TV-2602"},
    {"sparse", "1.1.0", "Error: FC IO error"},
    {"eight", "1.1.0", "TV-10"},
    {"dual_port", "2.1.1.1.3.0", "20000024FF3A5B10"},
    {"dual_port", "2.1.3.2.1.1.2.0", "21000024FF3A5B10"},
    {"dual_port", "2.1.1.1.4.0", "4610"},   // tx_frames, the first word
    {"dual_port", "2.1.1.1.22.0", "9236"},  // fcp_output_megabytes, the last
    {"dual_port", "2.1.2.1.1.0", "2"},      // the directory server is no node
    {"dual_port", "2.1.2.1.2.1", "200000d0b2c3d4e5:00000000:00000000:TAVRODSKVDISK-A         1.07"},
    {"dual_port", "2.1.2.1.2.2", "200000d0b2c3d4f6:00000001:00000000:TAVROTAPVTAPE-C         2.11"},
    {"dual_port", "2.1.2.1.2.3", kNul},
    {"dual_port", "2.1.3.2.2.1.1.1.0", "Error: fcdiGetSerialEeprom() FC IO error"},
    {"dual_port", "2.1.3.2.2.1.1.41.0", "Error: fcdiGetSerialEeprom() FC IO error"},
    {"dual_port", "2.1.3.2.1.1.4.0", "Error: fc_adap_type() FC IO error"},
    {"dual_port", "2.1.4.1.1.0", "Error: fc_diag_tach() FC IO error"},
    {"dual_port", "2.1.1.2.1.0", "Error: fcdiSCSIStats() FC IO error"},
    {"dual_port", "2.2.1.1.3.0", "Error: Adapter(1) Inactive"},
    {"sparse", "2.1.1.1.3.0", "Error: fcdiGetWwn() FC IO error"},  // node name never set
    {"sparse", "2.1.1.1.4.0", "Error: fcdiGetStatistics() FC IO error"},
    {"sparse", "2.2.1.1.4.0", "4294967295"},  // tx_frames unreadable
    {"sparse", "2.2.1.1.10.0", "0"},          // error_frames, a real zero
    {"sparse", "2.2.1.1.5.0", "16"},          // tx_words 0x100000010, a 32-bit counter
    {"eight", "2.8.1.1.3.0", "20000024FF000011"},
};

TEST(LinuxDevices, DirectObjectsAnswerFromTheFixture) {
  for (const char* tree : {"dual_port", "sparse", "eight"}) {
    DaemonProcess daemon({.args = {"-fcget", "enabled"},
                          .env = {{"TAVRO_SYSFS_ROOT", fixture(tree)},
                                  {"TAVRO_LIBRARY_PATH", binary_dir() + "/linux"}}});
    for (const Row& r : kDirect) {
      if (std::string(r.fixture) != tree) continue;
      EXPECT_EQ(request(daemon.port(), "FCGET .1.3.6.1.4.1.48217." + r.request + "\n"), r.reply)
          << tree << " " << r.request;
    }
  }
}

}  // namespace
}  // namespace tavro::testing
