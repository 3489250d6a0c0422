// 1. FCGET of a port counter (frames sent) through the daemon on the Linux
//    driver library against the simulated driver, on copies of the
//    eight-adapter fixture cut to 1, 2, 4 and 8 adapters: the daemons run
//    side by side, their rounds alternating; the ratio is the median of the
//    rounds' ratios, the spread the lowest and highest ratio of one round.
// 2. The sysfs files one full walk reads on the eight-adapter fixture: every
//    request of the catalogue for every adapter, port, node and remote node,
//    twice within a second (statistics are read at most once a second).
// 3. The sysfs files a full stdagent walk opens on the eight-adapter fixture,
//    through a private snmpd and the bridge: inotify on every folder of the
//    tree counts the opens; two walks within a second, one after it.
// 2a. The library's own time for that answer, in this process on a model a
//    watcher would keep fresh, on 1, 2, 4 and 8 adapters: what the daemon's
//    round trip hides.
// 4. The watcher's idle cost on the eight-adapter fixture, where nothing
//    changes: the CPU time of this process (getrusage) while only the watcher
//    works, as seconds per hour, and the files it opens per second.
//
//   bench_linux [requests per round] [rounds] [idle seconds]  (default 2000, 5, 30)
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bench/load/load_client.h"
#include "linux/driver.h"
#include "linux/watch/watcher.h"
#include "tests/support/daemon_process.h"
#include "tests/support/snmpd_process.h"

namespace {

const std::string kBranch = "FCGET .1.3.6.1.4.1.48217.3.";
const std::string kEight = std::string(TAVRO_FIXTURES) + "/eight";

std::string ask(int port, const std::string& object) {
  return tavro::testing::request(port, kBranch + object);
}

// The first port's frames-sent request of a daemon, or empty.
std::string counter_request(int port) {
  std::string name = ask(port, "3.2.1.2.0");
  std::string wwn = ask(port, "3.4.1.2." + name + ".0");
  return wwn.size() == 16 ? kBranch + "3.7.1.15." + wwn : "";
}

pid_t start(int port) {
  return bench::spawn(
      {bench::own_dir() + "/tavro", "-port", std::to_string(port), "-fcget", "enabled"});
}

// A copy of the eight-adapter fixture with only its first n adapters
// (hosts 10 to 9+n).
std::string cut_to(unsigned n) {
  namespace fs = std::filesystem;
  std::string root = tavro::testing::make_temp_dir() + "/sys";
  fs::copy(kEight, root, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  for (unsigned h = 10 + n; h <= 18; ++h)
    for (const char* cls : {"fc_host", "scsi_host"})
      fs::remove(root + "/class/" + cls + "/host" + std::to_string(h));
  return root;
}

// Rounds of FCGET frames sent on the simulator and on n adapters, alternating.
int fcget_ratio(int sim_port, const std::string& sim_request, unsigned n, int count, int rounds) {
  setenv("TAVRO_SYSFS_ROOT", cut_to(n).c_str(), 1);
  int linux_port = bench::free_port();
  pid_t lin = start(linux_port);
  int status = 1;
  if (bench::wait_listening(linux_port)) {
    const std::string linux_request = counter_request(linux_port);
    bench::LoadResult s{}, l{};
    std::vector<double> ratios;
    for (int i = 0; i < rounds; ++i) {
      double us[2] = {0, 0};
      int k = 0;
      for (auto [port, request, total] :
           {std::tuple(sim_port, &sim_request, &s), std::tuple(linux_port, &linux_request, &l)}) {
        bench::LoadResult r = bench::run_load(port, *request, count);
        total->requests += r.requests;
        total->failures += r.failures + (ask(port, "3.1.0").rfind("Error", 0) == 0);
        total->seconds += r.seconds;
        us[k++] = r.mean_us();
      }
      if (us[0] > 0) ratios.push_back(us[1] / us[0]);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf(
        "FCGET frames sent, %u adapter(s): simulated %.0f req/s, Linux %.0f req/s, time ratio "
        "Linux/simulated %.2f (median of rounds; rounds %.2f-%.2f; %d rounds of %d, alternating)\n",
        n, s.rate(), l.rate(), ratios.empty() ? 0.0 : ratios[ratios.size() / 2],
        ratios.empty() ? 0.0 : ratios.front(), ratios.empty() ? 0.0 : ratios.back(), rounds, count);
    status = s.failures + l.failures == 0 && !linux_request.empty() ? 0 : 1;
  }
  bench::stop(lin);
  return status;
}

void answer_cost() {
  for (unsigned n : {1u, 2u, 4u, 8u}) {
    sysfs::Model model(cut_to(n));
    model.refresh(true);
    model.watched(true);
    qlinux::Driver driver(model);
    const auto wwn = model.host(10)->port_name.value_or(0);
    std::vector<std::uint8_t> bytes(qlinux::request_size(0x1500002E));
    const int count = 200000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      qlinux::Area a{bytes.data(), bytes.size()};
      a.put32(12, 0x1500002E);
      a.put_wwn(80, wwn);
      driver.answer("fcph", 0x1500002E, a);
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    std::printf("library answer of frames sent, %u adapter(s): %.2f us\n", n, took.count() / count);
  }
}

struct Request {
  std::uint32_t number;
  std::string destination;
  std::vector<std::pair<std::size_t, std::uint64_t>> wwns, words;
};

// Every request of a full walk over what the model shows.
std::vector<Request> walk(sysfs::Model& m) {
  std::vector<Request> out;
  out.push_back({0x1E00000A, "/pvd/fcp0.sif", {}, {{0, 1}}});
  out.push_back({0x15000046, "fcph", {}, {}});
  auto adapters = m.adapters();
  for (std::uint32_t i = 0; i < adapters.size(); ++i) {
    const sysfs::Adapter& a = adapters[i];
    std::string sif = "/pvd/fcp" + std::to_string(i) + ".sif";
    out.push_back({0x1E00000B, sif, {}, {{0, 1}, {4, i}}});
    for (std::uint32_t code = 1; code <= 3; ++code)
      out.push_back({0x14000014, a.name, {}, {{0, code}}});
    out.push_back({0x14000015, a.name, {}, {{0, 1}}});
    out.push_back({0x14000016, a.name, {}, {{0, 1}}});
    out.push_back({0x15000048, "fcph", {}, {{80, i}}});
    auto node = m.host(a.hosts.front())->node_name.value_or(0);
    for (std::uint32_t n = 0x15000052; n <= 0x15000068; n += 2)
      out.push_back({n, "fcph", {{80, node}}, {}});
    for (std::uint32_t o = 2; o <= 12; ++o)
      out.push_back({0x0B00001E, "fcp", {{32, node}}, {{0, o}, {12, 1}}});
    for (std::uint32_t p = 0; p < a.hosts.size(); ++p) {
      auto wwn = m.host(a.hosts[p])->port_name.value_or(0);
      out.push_back({0x15000070, "fcph", {{84, node}}, {{80, p}}});
      for (std::uint32_t n = 0x15000016; n <= 0x15000044; n += 2)
        if (n != 0x1500001A) out.push_back({n, "fcph", {{80, wwn}}, {}});
      out.push_back({0x15000096, "fcph", {{80, wwn}}, {}});
    }
  }
  return out;
}

void run_walk(qlinux::Driver& d, const std::vector<Request>& requests) {
  for (const Request& r : requests) {
    std::vector<std::uint8_t> bytes(qlinux::request_size(r.number), 0);
    qlinux::Area a{bytes.data(), bytes.size()};
    if (qlinux::is_fcph(r.number)) a.put32(12, r.number);
    for (auto [at, v] : r.wwns) a.put_wwn(at, v);
    for (auto [at, v] : r.words) a.put32(at, static_cast<std::uint32_t>(v));
    d.answer(r.destination, r.number, a);
  }
}

// Counts the files opened below a tree, statistics files apart.
class OpenCounter {
 public:
  explicit OpenCounter(const std::string& root) : fd_(inotify_init1(IN_NONBLOCK)) {
    add(root);
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
      if (e.is_directory() && !e.is_symlink()) add(e.path());
  }
  ~OpenCounter() { ::close(fd_); }
  // Files opened since the last call: all, and of those statistics files.
  std::pair<int, int> take() {
    int files = 0, stats = 0;
    alignas(inotify_event) char buf[65536];
    for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) {
      for (char* p = buf; p < buf + n;) {
        auto* e = reinterpret_cast<inotify_event*>(p);
        if (!(e->mask & IN_ISDIR) && e->len > 0) {
          ++files;
          stats += statistics_.count(e->wd);
        }
        p += sizeof(inotify_event) + e->len;
      }
    }
    return {files, stats};
  }

 private:
  void add(const std::filesystem::path& dir) {
    int wd = inotify_add_watch(fd_, dir.c_str(), IN_OPEN);
    if (wd >= 0 && dir.filename() == "statistics") statistics_.insert(wd);
  }
  int fd_;
  std::set<int> statistics_;
};

int snmp_walks() {
  tavro::testing::SnmpdProcess snmpd;
  auto bridge = tavro::testing::start_bridge(
      snmpd, {"stdagent"},
      {{"TAVRO_LIBRARY_PATH", bench::own_dir() + "/linux"}, {"TAVRO_SYSFS_ROOT", kEight}});
  OpenCounter opens(kEight);
  std::string walk =
      "MIBS= MIBDIRS=/dev/null SNMPCONFPATH=" + snmpd.dir() +
      " snmpwalk -v2c -c public -r 0 -t 20 -On 127.0.0.1:" + std::to_string(snmpd.port()) +
      " .1.3.6.1.3.94";
  int status = bridge->running() ? 0 : 1;
  for (int pass = 1; pass <= 3 && status == 0; ++pass) {
    if (pass == 3) ::usleep(1100 * 1000);
    opens.take();
    auto result = tavro::testing::run_command(walk);
    auto [files, stats] = opens.take();
    auto objects = std::count(result.output.begin(), result.output.end(), '\n');
    std::printf("stdagent walk %d%s: %ld objects, %d sysfs files opened, %d statistics files\n",
                pass, pass == 3 ? " (after 1.1 s)" : "", static_cast<long>(objects), files, stats);
    if (result.status != 0 || objects < 8 * 20) status = 1;
  }
  return status;
}

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void watcher_idle(int seconds) {
  OpenCounter opens(kEight);
  sysfs::Model model(kEight);
  qlinux::watch::Watcher watcher(model, [](const qlinux::watch::Change&) {});
  opens.take();
  const double before = cpu_seconds();
  ::sleep(static_cast<unsigned>(seconds));
  const double cpu = cpu_seconds() - before;
  std::printf(
      "watcher idle on eight adapters: %.2f CPU s per hour, %.1f files opened per second "
      "(%d s)\n",
      cpu * 3600 / seconds, opens.take().first / static_cast<double>(seconds), seconds);
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  int idle = argc > 3 ? std::atoi(argv[3]) : 30;
  if (count < 1) count = 1;
  if (rounds < 1) rounds = 1;

  int sim_port = bench::free_port();
  pid_t sim = start(sim_port);
  setenv("TAVRO_LIBRARY_PATH", (bench::own_dir() + "/linux").c_str(), 1);
  int status = 1;
  if (bench::wait_listening(sim_port)) {
    std::string sim_request = counter_request(sim_port);
    status = sim_request.empty() ? 1 : 0;
    for (unsigned n : {1u, 2u, 4u, 8u})
      status |= fcget_ratio(sim_port, sim_request, n, count, rounds);
  }
  bench::stop(sim);
  setenv("TAVRO_SYSFS_ROOT", kEight.c_str(), 1);
  answer_cost();

  sysfs::Model model(kEight);
  qlinux::Driver driver(model);
  auto requests = walk(model);
  for (int pass = 1; pass <= 2; ++pass) {
    auto files = model.file_reads(), stats = model.stat_reads();
    run_walk(driver, requests);
    std::printf("walk %d: %zu requests, %llu sysfs file reads, %llu of statistics files\n", pass,
                requests.size(), static_cast<unsigned long long>(model.file_reads() - files),
                static_cast<unsigned long long>(model.stat_reads() - stats));
  }
  status |= snmp_walks();
  watcher_idle(std::max(idle, 1));
  return status;
}
