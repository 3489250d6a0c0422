// Request rate of the daemon beside a minimal server, and its resident size
// over a long run.
//
//   bench_load [requests]           REV through tavro and the baseline server
//   bench_load --port P --request TEXT [requests]   load any running server
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/load/load_client.h"

namespace {

int compare_with_baseline(int count) {
  std::string dir = bench::own_dir();
  int tavro_port = bench::free_port();
  int base_port = bench::free_port();
  pid_t tavro = bench::spawn({dir + "/tavro", "-port", std::to_string(tavro_port)});
  pid_t base = bench::spawn({dir + "/bench_baseline_server", std::to_string(base_port)});
  if (!bench::wait_listening(tavro_port) || !bench::wait_listening(base_port)) {
    std::fprintf(stderr, "servers did not start\n");
    return 1;
  }
  bench::run_load(tavro_port, "REV", count / 10 + 1);  // warm up
  long rss_before = bench::resident_kb(tavro);
  auto baseline = bench::run_load(base_port, "REV", count, "3.3 Build 43");
  auto daemon = bench::run_load(tavro_port, "REV", count, "3.3 Build 43");
  long rss_after = bench::resident_kb(tavro);
  bench::print_result("baseline server REV", baseline);
  bench::print_result("tavro REV", daemon);
  std::printf("rate ratio tavro/baseline: %.2f\n",
              baseline.rate() > 0 ? daemon.rate() / baseline.rate() : 0.0);
  std::printf("tavro resident size: %ld kB before, %ld kB after %d requests\n", rss_before,
              rss_after, count);
  bench::stop(tavro);
  bench::stop(base);
  return daemon.failures + baseline.failures == 0 ? 0 : 1;
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
