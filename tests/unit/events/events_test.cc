// Changes between two fixture trees, FC netlink messages, uevents and the
// bound on events, each as one table; and the library's watcher, which sends
// a change to every registration and stops with the last one.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "linux/watch/netlink.h"
#include "linux/watch/view.h"
#include "linux/watch/watcher.h"

namespace fs = std::filesystem;
using namespace qlinux::watch;

namespace {

// One edit of a copied tree: write text into a file (made with its folder
// where missing), or remove a path (text empty).
struct Edit {
  const char* path;
  const char* text;
};

void apply(const fs::path& root, const std::vector<Edit>& edits) {
  for (const Edit& e : edits) {
    if (*e.text == '\0') {
      fs::remove_all(root / e.path);
    } else {
      fs::create_directories((root / e.path).parent_path());
      std::ofstream(root / e.path) << e.text << "\n";
    }
  }
}

fs::path copy_fixture(const std::string& to) {
  fs::path dir = fs::path(testing::TempDir()) / to;
  fs::remove_all(dir);
  fs::copy(TAVRO_FIXTURES "/dual_port", dir,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  return dir;
}

constexpr const char* kH3 = "pci0000:3b/dev00 port 21000024FF3A5B10";
constexpr const char* kT0 = "remote port 210000D0B2C3D4E5 (node 200000D0B2C3D4E5)";
constexpr const char* kT1 = "remote port 220000D0B2C3D4F6 (node 200000D0B2C3D4F6)";
constexpr const char* kLun1 = "class/fc_remote_ports/rport-3:0-0/../../target3:0:0/3:0:0:1";

struct DiffRow {
  const char* name;
  std::vector<Edit> before, after;
  std::vector<Change> expected;
};

}  // namespace

// dual_port: host3 Online at 16 Gbit with remote ports T0 (LUNs 0, 1), T1
// (LUN 5) and the name server; host4 Linkdown.
TEST(Events, DiffOfFixtureTrees) {
  const std::string h3 = kH3;
  const std::vector<DiffRow> rows = {
      {"unchanged", {}, {}, {}},
      {"link_down",
       {},
       {{"class/fc_host/host3/port_state", "Linkdown"}},
       {{kWarning, h3 + ": link down (Online -> Linkdown)"}}},
      {"link_up_with_its_speed",
       {{"class/fc_host/host3/port_state", "Linkdown"}},
       {},
       {{kNotice, h3 + ": link up (Linkdown -> Online), 16 Gbit"}}},
      {"port_error",
       {},
       {{"class/fc_host/host3/port_state", "Error"}},
       {{kError, h3 + ": in error (Online -> Error)"}}},
      {"speed_type_fabric_id",
       {},
       {{"class/fc_host/host3/speed", "32 Gbit"},
        {"class/fc_host/host3/port_type", "NLPort (fabric via loop)"},
        {"class/fc_host/host3/fabric_name", "0x100000051e0a0b0d"},
        {"class/fc_host/host3/port_id", "0x010b00"}},
       {{kNotice, h3 + ": speed 16 Gbit -> 32 Gbit"},
        {kNotice, h3 + ": port type NPort -> NLPort"},
        {kNotice, h3 + ": fabric name 100000051E0A0B0C -> 100000051E0A0B0D"},
        {kNotice, h3 + ": port ID 010A00 -> 010B00"}}},
      {"port_gone",
       {},
       {{"class/fc_host/host4", ""}},
       {{kWarning, "pci0000:3b/dev00 port 21000024FF3A5B11: port gone"}}},
      {"port_added",
       {{"class/fc_host/host4", ""}},
       {},
       {{kNotice, "pci0000:3b/dev00 port 21000024FF3A5B11: port added (Linkdown)"}}},
      {"adapter_gone_online",
       {},
       {{"class/fc_host/host3", ""}, {"class/fc_host/host4", ""}},
       {{kAlarm, "pci0000:3b/dev00: adapter removed with ports online (21000024FF3A5B10)"}}},
      {"adapter_gone_offline",
       {{"class/fc_host/host3/port_state", "Linkdown"}},
       {{"class/fc_host/host3", ""}, {"class/fc_host/host4", ""}},
       {{kWarning, "pci0000:3b/dev00: adapter removed"}}},
      {"adapter_added",
       {{"class/fc_host/host3", ""}, {"class/fc_host/host4", ""}},
       {},
       {{kNotice, "pci0000:3b/dev00: adapter added (2 ports)"}}},
      {"remote_port_lost",
       {},
       {{"class/fc_remote_ports/rport-3:0-1", ""}},
       {{kWarning, h3 + ": " + kT1 + " lost"}}},
      {"remote_port_added",
       {{"class/fc_remote_ports/rport-3:0-1", ""}},
       {},
       {{kNotice, h3 + ": " + kT1 + " added (Online)"}}},
      {"remote_port_blocked_and_roles",
       {},
       {{"class/fc_remote_ports/rport-3:0-0/port_state", "Blocked"},
        {"class/fc_remote_ports/rport-3:0-0/roles", "FCP Target, FCP Initiator"}},
       {{kWarning, h3 + ": " + kT0 + " not online (Online -> Blocked)"},
        {kNotice, h3 + ": " + kT0 + " roles FCP Target -> FCP Target, FCP Initiator"}}},
      {"remote_port_back_online",
       {{"class/fc_remote_ports/rport-3:0-1/port_state", "Blocked"}},
       {},
       {{kNotice, h3 + ": " + kT1 + " online (Blocked -> Online)"}}},
      {"lun_lost",
       {},
       {{kLun1, ""}},
       {{kWarning, h3 + ": remote port 210000D0B2C3D4E5 LUN 1 (3:0:0:1 sdc) lost"}}},
      {"lun_added",
       {{kLun1, ""}},
       {},
       {{kNotice, h3 + ": remote port 210000D0B2C3D4E5 LUN 1 (3:0:0:1 sdc) added"}}},
      {"fpin_counters_rise",
       {{"class/fc_host/host3/statistics/fpin_li", "0x2"},
        {"class/fc_remote_ports/rport-3:0-0/statistics/fpin_cn", "0x0"},
        {"class/fc_remote_ports/rport-3:0-0/statistics/fpin_dn", "0x7"}},
       {{"class/fc_host/host3/statistics/fpin_li", "0x5"},
        {"class/fc_remote_ports/rport-3:0-0/statistics/fpin_cn", "0x1"},
        {"class/fc_remote_ports/rport-3:0-0/statistics/fpin_dn", "0x7"}},
       {{kWarning, h3 + ": FPIN link integrity notifications +3 (5 in all)"},
        {kWarning,
         h3 + ": remote port 210000D0B2C3D4E5 FPIN congestion notifications +1 (1 in all)"}}},
  };
  // A side is copied again only after a row edited it.
  const fs::path before = copy_fixture("before"), after = copy_fixture("after");
  bool before_edited = false, after_edited = false;
  for (const DiffRow& row : rows) {
    SCOPED_TRACE(row.name);
    if (std::exchange(before_edited, !row.before.empty())) copy_fixture("before");
    if (std::exchange(after_edited, !row.after.empty())) copy_fixture("after");
    apply(before, row.before);
    apply(after, row.after);
    EXPECT_EQ(diff(look(sysfs::Model(before.string())), look(sysfs::Model(after.string()))),
              row.expected);
  }
}

namespace {

// One netlink message: its header, then a struct fc_nl_event at the
// kernel's offsets (written here as numbers, so that they are pinned).
struct Message {
  std::uint16_t nl_type = 0x11;
  std::uint8_t version = 1, transport = 1;
  std::uint16_t magic = 0xA1B2, msgtype = 0x0100;
  std::uint16_t host = 3;
  std::uint32_t code = 0;
  std::vector<std::uint8_t> data = {0x00, 0x0C, 0x01, 0x00};  // 0x00010C00 in host order
  int msglen_delta = 0;    // declared fc_nl_event length minus the real one
  int nl_len_delta = 0;    // declared netlink length minus the real one
  int data_len_delta = 0;  // declared event_datalen minus the real one
};

template <typename T>
void put(std::vector<std::uint8_t>& b, std::size_t at, T v) {
  std::memcpy(b.data() + at, &v, sizeof v);
}

std::vector<std::uint8_t> build(const Message& m) {
  const std::size_t event = (36 + m.data.size() + 7) & ~std::size_t{7};
  std::vector<std::uint8_t> b(16 + event, 0);
  put<std::uint32_t>(b, 0, std::uint32_t(16 + event + m.nl_len_delta));
  put<std::uint16_t>(b, 4, m.nl_type);
  b[16 + 0] = m.version;
  b[16 + 1] = m.transport;
  put<std::uint16_t>(b, 16 + 2, m.magic);
  put<std::uint16_t>(b, 16 + 4, m.msgtype);
  put<std::uint16_t>(b, 16 + 6, std::uint16_t(event + m.msglen_delta));
  put<std::uint64_t>(b, 16 + 8, 0x1111111111111111);
  put<std::uint64_t>(b, 16 + 16, 0x2222222222222222);
  put<std::uint16_t>(b, 16 + 24, m.host);
  put<std::uint16_t>(b, 16 + 26, std::uint16_t(m.data.size() + m.data_len_delta));
  put<std::uint32_t>(b, 16 + 28, 77);
  put<std::uint32_t>(b, 16 + 32, m.code);
  std::memcpy(b.data() + 16 + 36, m.data.data(), m.data.size());
  return b;
}

Message code(std::uint32_t c) {
  Message m;
  m.code = c;
  return m;
}

// An FPIN's ELS: command 0x16, descriptor length, then one descriptor's tag.
Message fpin(std::uint8_t tag_low) {
  Message m = code(0x501);
  m.data = {0x16, 0, 0, 0, 0, 0, 0, 12, 0x00, 0x02, 0x00, tag_low, 0, 0, 0, 4, 0, 0, 0, 0};
  return m;
}

struct NetlinkRow {
  const char* name;
  std::vector<std::uint8_t> datagram;
  std::vector<Change> expected;
};

std::vector<std::uint8_t> join(std::vector<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> b, std::size_t n) {
  b.resize(n);
  return b;
}

template <typename F>
Message with(Message m, F f) {
  f(m);
  return m;
}

}  // namespace

TEST(Events, FcNetlinkMessages) {
  View view;
  view.hosts.push_back(View::Host{"pci0000:3b/dev00", {}, {}});
  view.hosts[0].attributes.number = 3;
  view.hosts[0].attributes.port_name = 0x21000024FF3A5B10;
  const std::string p = kH3;
  const std::vector<NetlinkRow> rows = {
      {"lip", build(code(0x1)), {{kNotice, p + ": loop initialisation (LIP)"}}},
      {"link_up", build(code(0x2)), {{kNotice, p + ": link up"}}},
      {"link_down", build(code(0x3)), {{kWarning, p + ": link down"}}},
      {"lip_reset", build(code(0x4)), {{kNotice, p + ": LIP reset"}}},
      {"rscn", build(code(0x5)), {{kWarning, p + ": RSCN (affected 010C00)"}}},
      {"adapter_change", build(code(0x103)), {{kNotice, p + ": adapter changed"}}},
      {"port_unknown", build(code(0x200)), {{kNotice, p + ": port state unknown"}}},
      {"port_offline", build(code(0x201)), {{kWarning, p + ": port offline"}}},
      {"port_online", build(code(0x202)), {{kNotice, p + ": port online"}}},
      {"port_fabric", build(code(0x204)), {{kNotice, p + ": fabric changed"}}},
      {"link_unknown", build(code(0x500)), {{kWarning, p + ": link state unknown"}}},
      {"fpin_link_integrity",
       build(fpin(1)),
       {{kWarning, p + ": fabric performance impact notification (FPIN): link integrity"}}},
      {"fpin_delivery",
       build(fpin(2)),
       {{kWarning, p + ": fabric performance impact notification (FPIN): delivery"}}},
      {"fpin_peer_congestion",
       build(fpin(3)),
       {{kWarning, p + ": fabric performance impact notification (FPIN): peer congestion"}}},
      {"fpin_congestion",
       build(fpin(4)),
       {{kWarning, p + ": fabric performance impact notification (FPIN): congestion"}}},
      {"fpin_unknown_tag",
       build(fpin(5)),
       {{kWarning, p + ": fabric performance impact notification (FPIN)"}}},
      {"unknown_code", build(code(0x7777)), {{kNotice, p + ": unknown FC event 0x7777"}}},
      {"other_host",
       build(with(code(0x3), [](Message& m) { m.host = 9; })),
       {{kWarning, "host9: link down"}}},
      {"two_in_one",
       join({build(code(0x3)), build(code(0x2))}),
       {{kWarning, p + ": link down"}, {kNotice, p + ": link up"}}},
      {"empty", {}, {}},
      {"short_netlink_header", cut(build(code(0x3)), 15), {}},
      {"truncated", cut(build(code(0x3)), 55), {}},
      {"netlink_length_past_end",
       build(with(code(0x3), [](Message& m) { m.nl_len_delta = 8; })),
       {}},
      {"netlink_length_too_small",
       build(with(code(0x3), [](Message& m) { m.nl_len_delta = -60; })),
       {}},
      {"event_length_past_message",
       build(with(code(0x3), [](Message& m) { m.msglen_delta = 8; })),
       {}},
      {"data_length_past_event",
       build(with(code(0x3), [](Message& m) { m.data_len_delta = 5; })),
       {}},
      {"wrong_magic", build(with(code(0x3), [](Message& m) { m.magic = 0xA1B3; })), {}},
      {"wrong_transport", build(with(code(0x3), [](Message& m) { m.transport = 0; })), {}},
      {"wrong_version", build(with(code(0x3), [](Message& m) { m.version = 2; })), {}},
      {"wrong_msgtype", build(with(code(0x3), [](Message& m) { m.msgtype = 0x0001; })), {}},
      {"other_netlink_type", build(with(code(0x3), [](Message& m) { m.nl_type = 0x10; })), {}},
      {"bad_then_good",
       join({build(with(code(0x3), [](Message& m) { m.magic = 0; })), build(code(0x2))}),
       {{kNotice, p + ": link up"}}},
  };
  for (const NetlinkRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<Change> got;
    for (const FcEvent& e : parse_fc_events(row.datagram)) got.push_back(describe(e, view));
    EXPECT_EQ(got, row.expected);
  }
}

TEST(Events, UeventsThatCallForALook) {
  struct Row {
    const char* action;
    const char* subsystem;
    bool look;
  };
  for (const Row& r : std::vector<Row>{{"add", "fc_host", true},
                                       {"remove", "fc_host", true},
                                       {"add", "fc_remote_ports", true},
                                       {"remove", "fc_remote_ports", true},
                                       {"add", "scsi_device", true},
                                       {"remove", "scsi_device", true},
                                       {"change", "fc_host", false},
                                       {"bind", "scsi_device", false},
                                       {"add", "block", false},
                                       {"", "", false}}) {
    EXPECT_EQ(uevent_needs_look(r.action, r.subsystem), r.look) << r.action << " " << r.subsystem;
  }
}

// A port flapping 1,000 times between two looks: kMaxEventsPerSecond go
// out, then one line counts the rest; the next second starts afresh.
TEST(Events, FlappingIsBounded) {
  std::vector<Change> sent;
  EventBound bound([&](const Change& c) { sent.push_back(c); });
  for (int k = 0; k < 1000; ++k) bound(make_change(kWarning, "flap"));
  ASSERT_EQ(sent.size(), std::size_t(kMaxEventsPerSecond));
  bound.tick();
  ASSERT_EQ(sent.size(), std::size_t(kMaxEventsPerSecond) + 1);
  EXPECT_EQ(sent.back().text, std::to_string(1000 - kMaxEventsPerSecond) +
                                  " further FC events in the last second not shown "
                                  "(a port flapping?)");
  bound.tick();
  bound(make_change(kWarning, "flap"));
  EXPECT_EQ(sent.size(), std::size_t(kMaxEventsPerSecond) + 2);
  EXPECT_EQ(make_change(kNotice, std::string(300, 'x')).text.size(), kTextMax);
}

namespace {

struct Received {
  std::uint32_t handle;
  std::uint32_t severity;
  std::string text;
};
std::mutex g_mu;
std::condition_variable g_cv;
std::vector<Received> g_events;
void (*g_free)(void*) = nullptr;

template <std::uint32_t Handle>
void handler(int, void* message) {
  std::uint32_t number;
  std::uint8_t* data;
  std::memcpy(&number, static_cast<char*>(message) + 80, 4);
  std::memcpy(&data, static_cast<char*>(message) + 84, sizeof data);
  if (number == 0x0300000B) {
    std::uint32_t severity;
    std::memcpy(&severity, data, 4);
    std::lock_guard lock(g_mu);
    g_events.push_back({Handle, severity, reinterpret_cast<const char*>(data + 8)});
    g_cv.notify_all();
  }
  g_free(message);
}

struct Library {
  explicit Library(const std::string& root)
      : lib((setenv("TAVRO_SYSFS_ROOT", root.c_str(), 1),
             dlopen(TAVRO_BINARY_DIR "/linux/libQFCMsgLib.so", RTLD_NOW | RTLD_LOCAL))) {
    g_free = fn<void (*)(void*)>("q_msg_free");
  }
  ~Library() {
    if (lib) dlclose(lib);
  }
  template <typename F>
  F fn(const char* name) {
    return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
  }
  void* lib;
  unsigned char (*init)() = fn<decltype(init)>("q_msg_init");
  int (*reg)(std::uint32_t, const char*, int,
             void (*)(int, void*)) = fn<decltype(reg)>("q_register_msg_handler");
  void (*dereg)(std::uint32_t) = fn<decltype(dereg)>("q_deregister_msg_handler");
  void (*done)() = fn<decltype(done)>("q_msg_done");
};

std::size_t threads() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

}  // namespace

// Every registration receives the change as a driver event; the watcher
// thread lives exactly as long as a registration holds.
TEST(Events, LibraryWatcherFollowsRegistrations) {
  const fs::path root = copy_fixture("library");
  const std::size_t before = threads();
  {
    Library l(root.string());
    ASSERT_NE(l.lib, nullptr) << dlerror();
    ASSERT_EQ(l.init(), 1);
    ASSERT_EQ(l.reg(0x11, "ONE", 0, handler<0x11>), 1);
    ASSERT_EQ(l.reg(0x22, "TWO", 0, handler<0x22>), 1);
    apply(root, {{"class/fc_host/host3/port_state", "Linkdown"}});
    {
      std::unique_lock lock(g_mu);
      ASSERT_TRUE(
          g_cv.wait_for(lock, std::chrono::seconds(10), [] { return g_events.size() >= 2; }));
      for (const Received& r : g_events) {
        EXPECT_EQ(r.severity, kWarning);
        EXPECT_EQ(r.text, std::string(kH3) + ": link down (Online -> Linkdown)");
      }
      EXPECT_NE(g_events[0].handle, g_events[1].handle);
    }
    l.dereg(0x11);
    l.dereg(0x22);
    l.done();
  }
  EXPECT_EQ(threads(), before);
  // Loaded and unloaded again and again with the watcher running.
  for (int k = 0; k < 100; ++k) {
    Library l(root.string());
    ASSERT_EQ(l.init(), 1);
    ASSERT_EQ(l.reg(0x33 + k, "AGAIN", 0, handler<0x33>), 1);
    l.dereg(0x33 + k);
    l.done();
  }
  EXPECT_EQ(threads(), before);
}
