// Request rate of the daemon beside a minimal server, and its resident size
// over a long run.
//
//   bench_load [requests]           REV, a small page and a 1 MB file through
//                                   tavro and the baseline server
//   bench_load --port P --request TEXT [requests]   load any running server
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/load/load_client.h"

namespace {

constexpr char kStatusOk[] = "HTTP/1.0 200 OK\n\n";

// A scratch web root with a small page and a 1 MB file.
struct WebRoot {
  WebRoot() {
    char pattern[] = "/tmp/tavro-bench-XXXXXX";
    dir = ::mkdtemp(pattern) != nullptr ? pattern : ".";
    page = "<html>\n<head><title>Adapters</title></head>\n<body>\n";
    for (int i = 0; i < 24; ++i) page += "<p>Adapter " + std::to_string(i) + ": online</p>\n";
    page += "</body>\n</html>\n";
    big.resize(1 << 20);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 4096);
    write("page.html", page);
    write("big.bin", big);
  }
  ~WebRoot() { std::filesystem::remove_all(dir); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }

  std::string dir, page, big;
};

struct Servers {
  int tavro = bench::free_port(), rev = bench::free_port(), page = bench::free_port(),
      big = bench::free_port();
};

// Adds one run's figures to a running total (latencies: the worse of both).
void add(bench::LoadResult& total, const bench::LoadResult& r) {
  total.requests += r.requests;
  total.failures += r.failures;
  total.seconds += r.seconds;
  total.p50_us = std::max(total.p50_us, r.p50_us);
  total.p99_us = std::max(total.p99_us, r.p99_us);
}

// The same request against the baseline server and tavro, in alternating
// rounds so that a change in the machine's load falls on both; prints both,
// the median of the rounds' rate ratios, beside the goal for it when there is
// one (goal > 0). Returns the number of failed requests.
int compare(const char* name, int base_port, int tavro_port, const std::string& request,
            const std::string& expect, int count, double goal = 0) {
  constexpr int kRounds = 9;
  bench::LoadResult baseline, daemon;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    int share = count / kRounds + (round < count % kRounds ? 1 : 0);
    if (share == 0) continue;
    auto b = bench::run_load(base_port, request, share, expect);
    auto d = bench::run_load(tavro_port, request, share, expect);
    add(baseline, b);
    add(daemon, d);
    if (b.rate() > 0) ratios.push_back(d.rate() / b.rate());
  }
  bench::print_result(("baseline server " + std::string(name)).c_str(), baseline);
  bench::print_result(("tavro " + std::string(name)).c_str(), daemon);
  std::sort(ratios.begin(), ratios.end());
  double ratio = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
  std::printf("rate ratio tavro/baseline (median of %zu rounds): %.2f", ratios.size(), ratio);
  if (goal > 0) std::printf("   goal %.2f or better: %s", goal, ratio >= goal ? "met" : "missed");
  std::printf("\n");
  if (expect.size() >= (1u << 20)) {
    std::printf("throughput: baseline %.0f MB/s, tavro %.0f MB/s\n",
                baseline.rate() * static_cast<double>(expect.size()) / 1e6,
                daemon.rate() * static_cast<double>(expect.size()) / 1e6);
  }
  return baseline.failures + daemon.failures;
}

int compare_with_baseline(int count) {
  std::string dir = bench::own_dir();
  WebRoot root;
  Servers port;
  pid_t tavro = bench::spawn(
      {dir + "/tavro", "-port", std::to_string(port.tavro), "-base", root.dir, "-rxto", "5"});
  std::string baseline = dir + "/bench_baseline_server";
  pid_t rev = bench::spawn({baseline, std::to_string(port.rev)});
  pid_t page =
      bench::spawn({baseline, std::to_string(port.page), "--file", root.dir + "/page.html"});
  pid_t big = bench::spawn({baseline, std::to_string(port.big), "--file", root.dir + "/big.bin"});
  int failures = 0;
  if (!bench::wait_listening(port.tavro) || !bench::wait_listening(port.rev) ||
      !bench::wait_listening(port.page) || !bench::wait_listening(port.big)) {
    std::fprintf(stderr, "servers did not start\n");
    failures = 1;
  } else {
    bench::run_load(port.tavro, "REV", count / 10 + 1);  // warm up
    long rss_before = bench::resident_kb(tavro);
    failures += compare("REV", port.rev, port.tavro, "REV", "3.3 Build 43", count, 0.95);
    failures += compare("GET small page", port.page, port.tavro, "GET /page.html HTTP/1.0\r\n",
                        kStatusOk + root.page, count, 0.85);
    failures += compare("GET 1 MB file", port.big, port.tavro, "GET /big.bin HTTP/1.0\r\n",
                        kStatusOk + root.big, count / 50 + 1);
    long rss_after = bench::resident_kb(tavro);
    std::printf("tavro resident size: %ld kB before, %ld kB after the runs above\n", rss_before,
                rss_after);
  }
  for (pid_t pid : {tavro, rev, page, big}) bench::stop(pid);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[1], "--port") == 0 && std::strcmp(argv[3], "--request") == 0) {
    int count = argc > 5 ? std::atoi(argv[5]) : 10000;
    auto r = bench::run_load(std::atoi(argv[2]), argv[4], count);
    bench::print_result(argv[4], r);
    return r.failures == 0 ? 0 : 1;
  }
  int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  return compare_with_baseline(count);
}
