// tavroctl metrics on the eight-adapter fixture, through a private daemon on
// the Linux driver library, against one scrape of a private
// prometheus-node-exporter whose fibrechannel collector reads the same tree.
// Rounds alternate the two; each side's time is the wall time a user waits
// (tavroctl started and run to its end; the HTTP request answered). Also the
// requests one tavroctl metrics makes, from the daemon's request counters.
// Given another tavroctl (an earlier build), its runs join each round too.
//
//   bench_metrics [rounds] [other tavroctl]     (default 21 rounds)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/load/load_client.h"
#include "tests/support/daemon_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kExporter = "/usr/bin/prometheus-node-exporter";

// The fixture with the attributes node_exporter's collector cannot do
// without (it fails the whole scrape on the first missing file).
std::string readable_tree() {
  namespace fs = std::filesystem;
  const std::string root = tavro::testing::make_temp_dir() + "/sys";
  fs::copy(std::string(TAVRO_FIXTURES) + "/eight", root,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  for (const auto& host : fs::directory_iterator(root + "/class/fc_host")) {
    const std::string dir = fs::canonical(host.path()).string() + "/";
    tavro::testing::write_file(dir + "fabric_name", "0x200000051e000001\n");
    tavro::testing::write_file(dir + "symbolic_name", "bench\n");
    tavro::testing::write_file(dir + "dev_loss_tmo", "30\n");
    tavro::testing::write_file(dir + "supported_speeds", "1 Gbit, 2 Gbit, 4 Gbit\n");
  }
  return root;
}

// Seconds from start to the end of tavroctl metrics; negative on failure.
double tavroctl_metrics(int port, const std::string& program) {
  const auto t0 = Clock::now();
  pid_t pid = bench::spawn({program, "--port", std::to_string(port), "metrics"});
  int status = -1;
  ::waitpid(pid, &status, 0);
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

// Seconds for one scrape; negative when it did not come back whole.
double scrape(int port, std::string* text = nullptr) {
  const auto t0 = Clock::now();
  std::string reply = tavro::testing::request(port, "GET /metrics HTTP/1.0\r\n\r\n");
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  if (text != nullptr) *text = reply;
  return reply.find("node_scrape_collector_success{collector=\"fibrechannel\"} 1") !=
                 std::string::npos
             ? s
             : -1;
}

// The sum of the daemon's request counters ("NAME;count;...").
long requests_served(int port) {
  const std::string stats = tavro::testing::request(port, "STATS\n");
  long total = 0;
  for (std::size_t at = 0; (at = stats.find(';', at)) != std::string::npos;) {
    const std::size_t end = stats.find(';', ++at);
    total += std::atol(stats.substr(at, end - at).c_str());
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return total;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty()      ? 0
         : v.size() % 2 ? v[v.size() / 2]
                        : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 21);
  if (::access(kExporter, X_OK) != 0) {
    std::printf("%s is not installed\n", kExporter);
    return 1;
  }
  const std::string root = readable_tree();
  setenv("TAVRO_LIBRARY_PATH", (bench::own_dir() + "/linux").c_str(), 1);
  setenv("TAVRO_SYSFS_ROOT", root.c_str(), 1);
  const int daemon_port = bench::free_port(), exporter_port = bench::free_port();
  pid_t daemon = bench::spawn({bench::own_dir() + "/tavro", "-port", std::to_string(daemon_port),
                               "-fcget", "enabled", "-api", "enabled"});
  pid_t exporter =
      bench::spawn({kExporter, "--path.sysfs=" + root, "--collector.disable-defaults",
                    "--collector.fibrechannel",
                    "--web.listen-address=127.0.0.1:" + std::to_string(exporter_port)});
  std::vector<std::string> programs{bench::own_dir() + "/tavroctl"};
  if (argc > 2) programs.push_back(argv[2]);
  int status = 1;
  if (bench::wait_listening(daemon_port) && bench::wait_listening(exporter_port)) {
    std::string scraped;
    status = scrape(exporter_port, &scraped) < 0;
    std::vector<long> requests;
    for (const std::string& program : programs) {
      const long before = requests_served(daemon_port);
      status |= tavroctl_metrics(daemon_port, program) < 0;
      // Less the STATS request that read the counters.
      requests.push_back(requests_served(daemon_port) - before - 1);
    }
    std::vector<std::vector<double>> ours(programs.size());
    std::vector<double> theirs, ratios;
    for (int i = 0; i < rounds && status == 0; ++i) {
      for (std::size_t k = 0; k < programs.size(); ++k)
        ours[k].push_back(tavroctl_metrics(daemon_port, programs[k]));
      theirs.push_back(scrape(exporter_port));
      if (ours[0].back() < 0 || theirs.back() < 0) status = 1;
      ratios.push_back(ours[0].back() / theirs.back());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf(
        "tavroctl metrics: median %.1f ms, %ld requests; node_exporter fibrechannel scrape: median "
        "%.1f ms (%d series); time ratio tavroctl/node_exporter median %.2f (rounds %.2f-%.2f; %d "
        "rounds, alternating)\n",
        median(ours[0]) * 1e3, requests[0], median(theirs) * 1e3,
        tavro::testing::occurrences(scraped, "\nnode_fibrechannel_"), median(ratios),
        ratios.empty() ? 0 : ratios.front(), ratios.empty() ? 0 : ratios.back(), rounds);
    if (programs.size() > 1)
      std::printf("%s metrics: median %.1f ms, %ld requests\n", programs[1].c_str(),
                  median(ours[1]) * 1e3, requests[1]);
  }
  bench::stop(exporter);
  bench::stop(daemon);
  return status;
}
