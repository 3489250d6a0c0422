// Changes between two fixture trees, FC netlink messages, uevents and the
// bound on events, each as one table; and the library's watcher, which sends
// a change to every registration and stops with the last one.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "linux/watch/netlink.h"
#include "linux/watch/view.h"
#include "linux/watch/watcher.h"
#include "snmphost/event_notice.h"
#include "tests/support/daemon_process.h"

namespace fs = std::filesystem;
using namespace qlinux::watch;

namespace qlinux::watch {
void PrintTo(const Change& c, std::ostream* out) {
  *out << c.severity << " " << c.text;
}
}  // namespace qlinux::watch

namespace {

// One edit of a copied tree: text written into a file (made with its folder
// where missing), or the path removed (text empty).
struct Edit {
  std::string path, text;
};

void apply(const fs::path& root, const std::vector<Edit>& edits) {
  for (const Edit& e : edits) {
    if (e.text.empty()) {
      fs::remove_all(root / e.path);
    } else {
      fs::create_directories((root / e.path).parent_path());
      std::ofstream(root / e.path) << e.text << "\n";
    }
  }
}

fs::path copy_fixture(const std::string& to) {
  // A folder of this run's own: runs side by side never share a copy.
  static const fs::path base = tavro::testing::make_temp_dir();
  fs::path dir = base / to;
  fs::remove_all(dir);
  fs::copy(TAVRO_FIXTURES "/dual_port", dir,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  return dir;
}

constexpr const char* kH3 = "pci0000:3b/dev00 port 21000024FF3A5B10";

struct DiffCase {
  std::string name;
  std::vector<Edit> before, after;
  std::vector<Change> expected;
};

// events/cases.txt (its head says how it reads).
std::vector<DiffCase> read_cases() {
  std::vector<DiffCase> cases;
  std::ifstream in(TAVRO_FIXTURES "/events/cases.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto blank = line.find(' ');
    const std::string word = line.substr(0, blank), rest = line.substr(blank + 1);
    if (word == "case") {
      cases.push_back({rest, {}, {}, {}});
    } else if (word == "before" || word == "after") {
      const auto at = rest.find(" = ");
      Edit e = at == std::string::npos ? Edit{rest.substr(0, rest.size() - 2), ""}
                                       : Edit{rest.substr(0, at), rest.substr(at + 3)};
      (word == "before" ? cases.back().before : cases.back().after).push_back(e);
    } else {
      cases.back().expected.push_back({std::uint32_t(std::stoul(word)), rest});
    }
  }
  return cases;
}

}  // namespace

TEST(Events, DiffOfFixtureTrees) {
  const std::vector<DiffCase> cases = read_cases();
  ASSERT_GE(cases.size(), 19u);
  // A side is copied again only after a case edited it.
  const fs::path before = copy_fixture("before"), after = copy_fixture("after");
  bool before_edited = false, after_edited = false;
  for (const DiffCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::exchange(before_edited, !c.before.empty())) copy_fixture("before");
    if (std::exchange(after_edited, !c.after.empty())) copy_fixture("after");
    apply(before, c.before);
    apply(after, c.after);
    EXPECT_EQ(diff(look(sysfs::Model(before.string())), look(sysfs::Model(after.string()))),
              c.expected);
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

// An FPIN's ELS: command 0x16, descriptor length, then one descriptor's tag.
Message fpin(std::uint8_t tag_low, std::uint8_t command = 0x16) {
  return {.code = 0x501, .data = {command, 0,       0, 0, 0, 0, 0, 12, 0x00, 0x02,
                                  0x00,    tag_low, 0, 0, 0, 4, 0, 0,  0,    0}};
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

}  // namespace

TEST(Events, FcNetlinkMessages) {
  View view;
  view.hosts.push_back(View::Host{"pci0000:3b/dev00", {}, {}});
  view.hosts[0].attributes.number = 3;
  view.hosts[0].attributes.port_name = 0x21000024FF3A5B10;
  const std::string p = kH3;
  const std::vector<NetlinkRow> rows = {
      {"lip", build({.code = 0x1}), {{kNotice, p + ": loop initialisation (LIP)"}}},
      {"link_up", build({.code = 0x2}), {{kNotice, p + ": link up"}}},
      {"link_down", build({.code = 0x3}), {{kWarning, p + ": link down"}}},
      {"lip_reset", build({.code = 0x4}), {{kNotice, p + ": LIP reset"}}},
      {"rscn", build({.code = 0x5}), {{kWarning, p + ": RSCN (affected 010C00)"}}},
      {"adapter_change", build({.code = 0x103}), {{kNotice, p + ": adapter changed"}}},
      {"port_unknown", build({.code = 0x200}), {{kNotice, p + ": port state unknown"}}},
      {"port_offline", build({.code = 0x201}), {{kWarning, p + ": port offline"}}},
      {"port_online", build({.code = 0x202}), {{kNotice, p + ": port online"}}},
      {"port_fabric", build({.code = 0x204}), {{kNotice, p + ": fabric changed"}}},
      {"link_unknown", build({.code = 0x500}), {{kWarning, p + ": link state unknown"}}},
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
      {"fpin_other_els",
       build(fpin(1, 0x17)),
       {{kWarning, p + ": fabric performance impact notification (FPIN)"}}},
      {"fpin_unknown_tag",
       build(fpin(5)),
       {{kWarning, p + ": fabric performance impact notification (FPIN)"}}},
      {"unknown_code", build({.code = 0x7777}), {{kNotice, p + ": unknown FC event 0x7777"}}},
      {"other_host", build(Message{.host = 9, .code = 0x3}), {{kWarning, "host9: link down"}}},
      {"two_in_one",
       join({build({.code = 0x3}), build({.code = 0x2})}),
       {{kWarning, p + ": link down"}, {kNotice, p + ": link up"}}},
      {"empty", {}, {}},
      {"short_netlink_header", cut(build({.code = 0x3}), 15), {}},
      {"truncated", cut(build({.code = 0x3}), 55), {}},
      {"netlink_length_past_end", build(Message{.code = 0x3, .nl_len_delta = 8}), {}},
      {"netlink_length_too_small", build(Message{.code = 0x3, .nl_len_delta = -60}), {}},
      {"event_length_past_message", build(Message{.code = 0x3, .msglen_delta = 8}), {}},
      {"data_length_past_event", build(Message{.code = 0x3, .data_len_delta = 5}), {}},
      // Data that fits the netlink message but not the event it declares.
      {"data_length_past_declared_event",
       build(Message{
           .code = 0x3, .data = {1, 2, 3, 4, 5, 6, 7, 8}, .msglen_delta = -4, .data_len_delta = 4}),
       {}},
      // A message of 61 bytes: the next one starts at the 4-byte boundary.
      {"unaligned_then_next",
       join({build(Message{
                 .code = 0x3, .data = {1, 2, 3, 4, 5}, .msglen_delta = -3, .nl_len_delta = -3}),
             build({.code = 0x2})}),
       {{kWarning, p + ": link down"}, {kNotice, p + ": link up"}}},
      {"wrong_magic", build(Message{.magic = 0xA1B3, .code = 0x3}), {}},
      {"wrong_transport", build(Message{.transport = 0, .code = 0x3}), {}},
      {"wrong_version", build(Message{.version = 2, .code = 0x3}), {}},
      {"wrong_msgtype", build(Message{.msgtype = 0x0001, .code = 0x3}), {}},
      {"other_netlink_type", build(Message{.nl_type = 0x10, .code = 0x3}), {}},
      {"bad_then_good",
       join({build(Message{.magic = 0, .code = 0x3}), build({.code = 0x2})}),
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
  for (std::size_t n : {kTextMax - 1, kTextMax, kTextMax + 1, kTextMax + 2})
    EXPECT_EQ(make_change(kNotice, std::string(n, 'x')).text.size(), std::min(n, kTextMax)) << n;
}

// What a change becomes in connUnitEventTrap: its connUnitEventType by what
// its text tells of, its FcEventSeverity by its code (each code, and a code
// either side of one).
TEST(Events, NotificationTypeAndSeverity) {
  struct Row {
    std::uint32_t code;
    std::string text;
    long type;
    int severity;
  };
  const std::string p = kH3, remote = p + ": remote port 220000D0B2C3D4F6 ";
  constexpr long S = tavro::kEventTypeStatus, T = tavro::kEventTypeTopology;
  for (const Row& r : std::vector<Row>{
           {0, "", S, 1},
           {410, p + ": port added (Online)", S, 1},
           {411, p + ": link up (Linkdown -> Online), 16 Gbit", S, 7},
           {412, p + ": speed 16 Gbit -> 32 Gbit", S, 1},
           {611, p + ": link down (Online -> Linkdown)", S, 6},
           {611, remote + "(node 200000D0B2C3D4F6) lost", T, 6},
           {411, remote + "LUN 1 (3:0:0:1 sdc) added", T, 7},
           {611, p + ": RSCN (affected 010C00)", T, 6},
           {611, "host9: RSCN", T, 6},
           {711, p + ": in error (Online -> Error)", S, 5},
           {811, "pci0000:3b/dev00: adapter removed with ports online (21000024FF3A5B10)", S, 4},
           {911, p + ": alert", S, 3},
           {912, p + ": remote", S, 1},
       }) {
    EXPECT_EQ(tavro::fc_event_type(r.text), r.type) << r.text;
    EXPECT_EQ(tavro::fc_event_severity(r.code), r.severity) << r.code;
  }
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

// The threads of this process, and of those the watchers.
std::pair<std::size_t, std::size_t> threads() {
  std::pair<std::size_t, std::size_t> n{0, 0};
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    ++n.first;
    n.second += name == kThreadName;
  }
  return n;
}

// The counts once done(counts); a thread just joined may take a moment to
// leave /proc.
template <typename Done>
std::pair<std::size_t, std::size_t> settled(Done done) {
  auto now = threads();
  for (int k = 0; k < 250 && !done(now); ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    now = threads();
  }
  return now;
}

}  // namespace

// Every registration receives the change as a driver event; the watcher
// thread lives exactly as long as a registration holds.
TEST(Events, LibraryWatcherFollowsRegistrations) {
  const fs::path root = copy_fixture("library");
  EXPECT_EQ(threads().second, 0u);
  {
    Library l(root.string());
    ASSERT_NE(l.lib, nullptr) << dlerror();
    ASSERT_EQ(l.init(), 1);
    ASSERT_EQ(l.reg(0x11, "ONE", 0, handler<0x11>), 1);
    ASSERT_EQ(l.reg(0x22, "TWO", 0, handler<0x22>), 1);
    EXPECT_EQ(threads().second, 1u);  // one for both
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
    EXPECT_EQ(threads().second, 1u);
    l.dereg(0x22);
    EXPECT_EQ(settled([](auto n) { return n.second == 0; }).second, 0u);
    l.done();
  }
  // Loaded and unloaded again and again with the watcher running: no thread
  // is left over (the sanitizers' own may have started by now).
  const auto before = threads();
  for (int k = 0; k < 100; ++k) {
    Library l(root.string());
    ASSERT_EQ(l.init(), 1);
    ASSERT_EQ(l.reg(0x33 + k, "AGAIN", 0, handler<0x33>), 1);
    l.dereg(0x33 + k);
    l.done();
  }
  EXPECT_EQ(settled([&](auto n) { return n == before; }), before);
}
