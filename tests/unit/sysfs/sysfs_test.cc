#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sysfs/model.h"
#include "sysfs/parse.h"
#include "tests/support/daemon_process.h"

namespace fs = std::filesystem;
using namespace sysfs;
using tavro::testing::read_file;
using tavro::testing::write_file;

namespace {

std::string fixture(const std::string& c) {
  return std::string(TAVRO_FIXTURES) + "/" + c;
}

template <typename T>
std::string show(const std::optional<T>& v) {
  if (!v) return "-";
  std::ostringstream s;
  if constexpr (std::is_enum_v<T>)
    s << static_cast<int>(*v);
  else
    s << std::hex << *v;
  return s.str();
}

std::string show_host(const FcHost& h) {
  return show(h.port_name) + " " + show(h.node_name) + " " + show(h.permanent_port_name) + " " +
         show(h.fabric_name) + " " + show(h.port_id) + " " + show(h.port_state) + " " +
         show(h.port_type) + " " + show(h.speed_gbit) + " " + show(h.supported_classes) + " " +
         show(h.maxframe_size) + " " + show(h.symbolic_name);
}

std::string show_info(const HostInfo& i) {
  return show(i.driver) + "|" + show(i.manufacturer) + "|" + show(i.model) + "|" +
         show(i.description) + "|" + show(i.serial_number) + "|" + show(i.firmware_version) + "|" +
         show(i.driver_version) + "|" + show(i.hardware_version);
}

// A writable copy of a fixture.
std::string copy_of(const std::string& c) {
  std::string root = tavro::testing::make_temp_dir() + "/" + c;
  fs::copy(fixture(c), root, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  return root;
}

}  // namespace

// Boundaries of the formats the fixtures do not show (they show the usual values).
TEST(SysfsParse, Boundaries) {
  EXPECT_EQ(parse_wwn("0x5"), 5u);  // unpadded
  EXPECT_EQ(parse_wwn("0x1ffffffffffffffff"), std::nullopt);
  EXPECT_EQ(parse_wwn("21000024ff3a5b10"), std::nullopt);
  EXPECT_EQ(parse_counter("0xfffffffffffffffe"), 0xfffffffffffffffeu);
  EXPECT_EQ(parse_counter("0x12 "), std::nullopt);
  EXPECT_EQ(parse_port_id("0xffffff"), 0xffffffu);
  EXPECT_EQ(parse_port_id("0x1000000"), std::nullopt);
  EXPECT_EQ(parse_decimal("4294967295"), 4294967295u);
  EXPECT_EQ(parse_decimal("4294967296"), std::nullopt);
  EXPECT_EQ(parse_decimal(""), std::nullopt);
  EXPECT_EQ(parse_speed("256 Gbit"), 256u);
  EXPECT_EQ(parse_speed("0 Gbit"), std::nullopt);
  EXPECT_EQ(parse_classes("Class 6"), 0x40u);
  EXPECT_EQ(parse_classes("Class 5"), std::nullopt);
  EXPECT_EQ(parse_roles("unknown"), 0u);
  EXPECT_EQ(parse_roles("FCP Target, FCP Dummy Initiator, NVMe Initiator, NVMe Target"), 0x39u);
  EXPECT_EQ(parse_roles("NVMe Discovery"), 0x40u);
  for (const char* fabric : {"Fabric Port", "Directory Server", "Management Server"})
    EXPECT_EQ(parse_roles(fabric), kRoleFabric) << fabric;
  EXPECT_EQ(parse_roles("FCP Target,FCP Initiator"), std::nullopt);
  EXPECT_EQ(parse_port_state("Marginal"), PortState::marginal);
  EXPECT_EQ(parse_port_type("NPIV VPORT"), PortType::npiv);
}

TEST(SysfsModel, Adapters) {
  struct Row {
    const char* fixture;
    const char* want;
    std::size_t not_listed;
  } rows[] = {
      {"dual_port", "pci0000:3b/dev00=3,4 ", 0},
      {"spellings", "pci0000:5e/dev00=7 pci0000:af/dev00=8 ", 0},
      {"sparse", "pci0000:12/dev00=2 pci0000:13/dev00=5 ", 0},
      {"fcoe", "pci0000:02/dev00=6 host9=9 ", 0},
      {"none", "", 0},
      {"eight",
       "pci0000:81/dev00=10 pci0000:82/dev00=11 pci0000:83/dev00=12 pci0000:84/dev00=13 "
       "pci0000:85/dev00=14 pci0000:86/dev00=15 pci0000:87/dev00=16 pci0000:88/dev00=17 ",
       1},
      {"missing", "", 0},
      {"multipath", "pci0000:41/dev00=1,2 pci0000:42/dev00=3 ", 0},
      {"npiv", "pci0000:5a/dev00=5,7 ", 0},       // the virtual port on its card
      {"functions", "pci0000:3c/dev00=6,5 ", 0},  // by function, not host number
      {"shared_node", "host0=0,1 host2=2,4 ", 0},
  };
  for (const Row& r : rows) {
    std::size_t skipped = 99;
    std::string got;
    for (const Adapter& a : Model(fixture(r.fixture)).adapters(&skipped)) {
      got += a.name + "=";
      for (unsigned h : a.hosts) got += std::to_string(h) + (h == a.hosts.back() ? " " : ",");
    }
    EXPECT_EQ(got, r.want) << r.fixture;
    EXPECT_EQ(skipped, r.not_listed) << r.fixture;
  }
}

TEST(SysfsModel, Hosts) {
  // port node permanent fabric port_id state type speed classes frame symbolic
  struct Row {
    const char* fixture;
    unsigned host;
    const char* want;
  } rows[] = {
      {"dual_port", 3,
       "21000024ff3a5b10 20000024ff3a5b10 21000024ff3a5b1a 100000051e0a0b0c 10a00 2 3 10 8 800 "
       "TV-2602 FW:v8.08.231 DVR:v10.02.07.900-k"},
      {"dual_port", 4,
       "21000024ff3a5b11 20000024ff3a5b11 21000024ff3a5b1b - 0 7 0 - 8 800 "
       "TV-2602 FW:v8.08.231 DVR:v10.02.07.900-k"},
      {"spellings", 7, "10000090fa1b2c3d 20000090fa1b2c3d - - 20e00 2 5 20 c - -"},
      {"sparse", 2, "21000011aabbcc02 - - - - 2 - - - - -"},
      {"sparse", 5, "21000011aabbcc05 20000011aabbcc05 - - a0b0c 2 - 0 - - -"},
      {"fcoe", 9, "2000aabbccddee09 1000aabbccddee09 - - - 3 0 1 - - -"},
  };
  for (const Row& r : rows) {
    auto h = Model(fixture(r.fixture)).host(r.host);
    ASSERT_TRUE(h) << r.fixture << r.host;
    EXPECT_EQ(show_host(*h), r.want) << r.fixture << r.host;
  }
  EXPECT_FALSE(Model(fixture("dual_port")).host(5));
}

TEST(SysfsModel, DriverAttributeSpellings) {
  // driver|manufacturer|model|description|serial|firmware|driver version|hardware
  struct Row {
    const char* fixture;
    unsigned host;
    const char* want;
  } rows[] = {
      {"dual_port", 4,
       "qla2xxx|-|TV-2602|Dual port 16Gb FC adapter|TVX2051K0124|8.08.232 (d0d5)|10.02.07.900-k|-"},
      {"spellings", 7,
       "lpfc|-|TE32002|Tavro 32Gb 2-port FC adapter|LPX9100234|12.8.351.29, sli-4:2:c|Tavro "
       "Device Driver for FC 14.2.0.5|0x0000000c"},
      {"spellings", 8,
       "bfa|-|TB-825|Tavro 8Gb single port FC adapter|BFX0412AB|3.2.23.0|3.2.25.1|Rev-C"},
      {"fcoe", 6,
       "fcoe|Tavro Networks|TN-10E|Tavro 10GbE converged adapter|TNE3300456|7.13.1|0.1|B2"},
      {"sparse", 2, "qla2xxx|-|-|-|-|-|-|-"},
      {"dual_port", 9, "-|-|-|-|-|-|-|-"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(show_info(Model(fixture(r.fixture)).host_info(r.host)), r.want)
        << r.fixture << r.host;
}

TEST(SysfsModel, RemotePortsAndLuns) {
  std::string got;
  for (const RemotePort& r : Model(fixture("dual_port")).remote_ports(3)) {
    got += r.name + " " + show(r.node_name) + " " + show(r.port_name) + " " + show(r.port_id) +
           " " + show(r.roles) + " " + show(r.port_state) + " " + show(r.scsi_target_id) + " " +
           show(r.supported_classes) + ":";
    for (const ScsiDevice& d : r.devices)
      got += " " + std::to_string(d.target) + "/" + std::to_string(d.lun) + " " + show(d.vendor) +
             show(d.model) + show(d.rev) + " " + show(d.type) + " " + d.block + "," + d.generic;
    got += "\n";
  }
  EXPECT_EQ(
      got,
      "rport-3:0-0 200000d0b2c3d4e5 210000d0b2c3d4e5 10b00 1 2 0 8: "
      "0/0 TAVRODSKVDISK-A         1.07 0 sdb,sg1 0/1 TAVRODSKVDISK-B         1.08 0 sdc,sg2\n"
      "rport-3:0-1 200000d0b2c3d4f6 220000d0b2c3d4f6 10c00 3 2 1 c: "
      "1/5 TAVROTAPVTAPE-C         2.11 1 ,sg3\n"
      "rport-3:0-2 20fffc0a0b0c0d0e 21fffc0a0b0c0d0e fffffc 100 2 - 0:\n");
  EXPECT_TRUE(Model(fixture("dual_port")).remote_ports(4).empty());
  // By number; the gone path without names; a device link that loops.
  got.clear();
  for (const RemotePort& r : Model(fixture("multipath")).remote_ports(1))
    got += r.name + " " + show(r.node_name) + " " + show(r.port_id) + " " + show(r.roles) + " " +
           show(r.port_state) + " " + std::to_string(r.devices.size()) + "\n";
  EXPECT_EQ(got,
            "rport-1:0-2 50060e8000aa0000 10200 1 11 2\n"
            "rport-1:0-3 - - 0 1 0\n"
            "rport-1:0-10 100000051e0a0000 fffffc 100 2 0\n");
  EXPECT_FALSE(Model(fixture("npiv")).remote_ports(5).at(0).devices_known);
  EXPECT_TRUE(Model(fixture("npiv")).remote_ports(7).at(0).devices_known);
}

// Attribute files up to the largest page are read whole; a longer one is not
// cut to a wrong value but reads as nothing.
TEST(SysfsModel, AttributesReadWholeUpToAPage) {
  std::string root = copy_of("dual_port");
  const std::string file = root + "/class/fc_host/host3/statistics/rx_words";
  for (std::size_t size : {4095, 4096, 4097, 65536, 65537, 200000}) {
    std::string text = "0x" + std::string(size - 4, '0') + "5\n";
    write_file(file, text);
    EXPECT_EQ(Model(root).statistic(3, Stat::rx_words),
              size <= kMaxAttributeSize ? std::optional<std::uint64_t>(5) : std::nullopt)
        << size;
  }
}

TEST(SysfsModel, StatisticsReadAtMostOncePerSecond) {
  std::string root = copy_of("dual_port");
  auto now = std::chrono::steady_clock::time_point{};
  Model m(root, [&] { return now; });
  const std::string file = root + "/class/fc_host/host3/statistics/tx_frames";
  EXPECT_EQ(m.statistic(3, Stat::tx_frames), 0x1202u);
  write_file(file, "0x77\n");
  now += std::chrono::milliseconds(999);
  EXPECT_EQ(m.statistic(3, Stat::tx_frames), 0x1202u);
  EXPECT_EQ(m.statistic(4, Stat::tx_frames), 0x2202u);  // its own entry
  now += std::chrono::milliseconds(1);
  EXPECT_EQ(m.statistic(3, Stat::tx_frames), 0x77u);
  EXPECT_EQ(m.stat_reads(), 3u);
  fs::remove(file);  // a counter that cannot be read has no value
  now += std::chrono::milliseconds(1000);
  EXPECT_FALSE(m.statistic(3, Stat::tx_frames));
  // A reset writes the transport's file and forgets what was read.
  write_file(file, "0x0\n");
  EXPECT_TRUE(m.reset_statistics(3));
  EXPECT_EQ(read_file(root + "/class/fc_host/host3/statistics/reset_statistics"), "1");
  EXPECT_EQ(m.statistic(3, Stat::tx_frames), 0u);
  EXPECT_TRUE(m.issue_lip(4));
  EXPECT_EQ(read_file(root + "/class/fc_host/host4/issue_lip"), "1");
  EXPECT_FALSE(m.reset_statistics(5));
  EXPECT_FALSE(Model(fixture("sparse")).reset_statistics(2));
}

// The view is kept a second, or until invalidate(): an NPIV port deleted (the
// kernel removes its fc_host) and created again is seen by the first call
// after either, and no call within the second reads a file again.
TEST(SysfsModel, ViewKeptASecondOrUntilInvalidated) {
  using std::chrono::milliseconds;
  std::string root = copy_of("npiv");
  auto now = std::chrono::steady_clock::time_point{};
  Model m(root, [&] { return now; });
  const std::string link = root + "/class/fc_host/host7";
  EXPECT_EQ(m.adapters().at(0).hosts, (std::vector<unsigned>{5, 7}));
  const auto reads = m.file_reads();
  fs::rename(link, link + ".gone");
  now += milliseconds(999);
  EXPECT_TRUE(m.host(7) && m.host_info(7).driver && m.remote_ports(7).size() == 1);
  EXPECT_EQ(m.file_reads(), reads);
  now += milliseconds(1);
  EXPECT_FALSE(m.host(7));
  EXPECT_EQ(m.adapters().at(0).hosts, std::vector<unsigned>{5});
  fs::rename(link + ".gone", link);
  EXPECT_FALSE(m.host(7));
  m.invalidate();
  EXPECT_EQ(m.host(7).value().port_type, PortType::npiv);
  EXPECT_EQ(m.adapters().at(0).hosts, (std::vector<unsigned>{5, 7}));
}

// While a watcher keeps the view fresh a request never looks: it answers the
// latest look, or after invalidate() waits for the next. A look reads what can
// change; a host's driver attributes only when it appears or when asked to.
TEST(SysfsModel, WatchedViewIsTheLatestLook) {
  std::string root = copy_of("npiv");
  auto now = std::chrono::steady_clock::time_point{};
  Model m(root, [&] { return now; });
  m.refresh(true);
  m.watched(true);
  const std::string link = root + "/class/fc_host/host7";
  const auto reads = m.file_reads();
  fs::rename(link, link + ".gone");
  now += std::chrono::hours(1);
  EXPECT_TRUE(m.host(7));
  EXPECT_EQ(m.file_reads(), reads);
  write_file(root + "/class/scsi_host/host5/proc_name", "renamed\n");
  m.refresh();
  EXPECT_FALSE(m.host(7));
  EXPECT_EQ(m.host_info(5).driver, "qla2xxx");
  fs::rename(link + ".gone", link);
  m.refresh();
  EXPECT_EQ(m.host_info(7).driver, "qla2xxx");      // a host that appears is read whole
  fs::rename(link, root + "/class/fc_host/host8");  // one host gone, another come
  m.refresh();
  EXPECT_EQ(m.adapters().at(0).hosts, (std::vector<unsigned>{5, 8}));
  fs::rename(root + "/class/fc_host/host8", link);
  m.refresh(true);
  EXPECT_EQ(m.host_info(5).driver, "renamed");
  write_file(root + "/class/fc_host/host5/port_state", "Linkdown\n");
  write_file(root + "/class/scsi_host/host5/proc_name", "relinked\n");  // read with the new link
  m.invalidate();
  // The look comes late: a request that does not wait for it gets the old view.
  std::thread watcher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    m.refresh();
  });
  EXPECT_EQ(m.host(5).value().port_state, PortState::linkdown);
  watcher.join();
  EXPECT_EQ(m.host_info(5).driver, "relinked");
  m.watched(false);
  fs::rename(link, link + ".gone");
  now += std::chrono::seconds(1);
  EXPECT_FALSE(m.host(7));  // on its own again
}

// A statistics read stuck in its driver (here: a FIFO without a writer) holds
// one reader thread and its own file: other files are read at once, the last
// value is answered for at most kStatsOldest, the file is read again a second
// later beside the stuck read (at most kMaxReadsPerFile at once), reads beyond
// kMaxReaders wait their turn, and once the file is readable the next read
// gives its value.
TEST(SysfsModel, StatisticsReadThatBlocksHoldsOnlyItsFile) {
  using std::chrono::milliseconds;
  std::string root = copy_of("dual_port");
  // Reader threads read the clock too, also after the test if a read ends late.
  static std::atomic<std::chrono::steady_clock::time_point> now{};
  Model m(root, [] { return now.load(); });
  auto later = [&](int ms) { now = now.load() + milliseconds(ms); };
  const std::string dir = root + "/class/fc_host/host3/statistics/";
  auto stick = [&](Stat s) {
    fs::remove(dir + stat_file(s));
    ASSERT_EQ(mkfifo((dir + stat_file(s)).c_str(), 0600), 0);
  };
  const milliseconds wait(20);
  EXPECT_EQ(m.statistic(3, Stat::rx_frames), 0x1404u);
  stick(Stat::rx_frames);
  later(1000);
  EXPECT_EQ(m.statistic(3, Stat::rx_frames, wait), 0x1404u);
  // Asked for together with the stuck file, another is read meanwhile.
  EXPECT_EQ(m.statistics(3, {Stat::rx_frames, Stat::tx_frames}),
            (std::vector<std::optional<std::uint64_t>>{0x1404u, 0x1202u}));
  later(999);
  EXPECT_EQ(m.statistic(3, Stat::rx_frames, wait), 0x1404u);
  EXPECT_EQ(m.stat_reads(), 3u);
  later(1);
  EXPECT_EQ(m.statistic(3, Stat::rx_frames, wait), std::nullopt);
  later(1000);
  EXPECT_EQ(m.statistic(3, Stat::rx_frames, wait), std::nullopt);
  EXPECT_EQ(m.stat_reads(), 4u);
  const Stat more[] = {Stat::tx_words,  Stat::rx_words,     Stat::lip_count,
                       Stat::nos_count, Stat::error_frames, Stat::dumped_frames};
  static_assert(std::size(more) + Model::kMaxReadsPerFile == Model::kMaxReaders);
  for (Stat s : more) {
    stick(s);
    EXPECT_EQ(m.statistic(3, s, milliseconds(0)), std::nullopt);
  }
  EXPECT_EQ(m.statistic(3, Stat::invalid_crc_count, wait), std::nullopt);
  const char* const fifos[] = {"rx_frames", "tx_words",     "rx_words",     "lip_count",
                               "nos_count", "error_frames", "dumped_frames"};
  auto feed = [&](const char* fifo, std::string_view text) {
    int fd = -1;
    for (int i = 0; i < 500 && (fd = open((dir + fifo).c_str(), O_WRONLY | O_NONBLOCK)) < 0; ++i)
      std::this_thread::sleep_for(milliseconds(10));
    ASSERT_GE(fd, 0) << fifo;
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
  };
  for (const char* fifo : fifos) feed(fifo, "0x7\n");
  // A second read of one file may reach its FIFO only after that: feed it too.
  for (int i = 0; i < 500 && m.reads_going_on() > 0; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
    for (const char* fifo : fifos)
      if (int fd = open((dir + fifo).c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) {
        EXPECT_EQ(write(fd, "0x7\n", 4), 4);
        close(fd);
      }
  }
  EXPECT_EQ(m.statistic(3, Stat::invalid_crc_count), 0x1f0fu);  // read once a reader is free
  fs::remove(dir + "rx_frames");
  write_file(dir + "rx_frames", "0x42\n");
  later(1000);
  EXPECT_EQ(m.statistic(3, Stat::rx_frames), 0x42u);
  // A read asked for before a reset that ends after it counts for nothing.
  stick(Stat::rx_frames);
  later(1000);
  EXPECT_EQ(m.statistic(3, Stat::rx_frames, milliseconds(0)), 0x42u);
  ASSERT_TRUE(m.reset_statistics(3));
  feed("rx_frames", "0x99\n");
  for (int i = 0; i < 500 && m.reads_going_on() > 0; ++i) std::this_thread::sleep_for(wait);
  fs::remove(dir + "rx_frames");
  write_file(dir + "rx_frames", "0x5\n");
  EXPECT_EQ(m.statistic(3, Stat::rx_frames), 0x5u);
}
