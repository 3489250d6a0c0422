// Sequential HBAAPI requests for one port's statistics, answered by the
// simulated HBA API library through the daemon, beside REV requests that the
// daemon answers itself, in alternating rounds: the difference is the cost
// of the bridge and the library call.
//
//   bench_hbaapi [requests]      (default 20000 of each)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/load/load_client.h"
#include "tests/support/daemon_process.h"

namespace {

std::string ask(int port, const std::string& request) {
  return tavro::testing::request(port, "HBAAPI " + request);
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (count < 1) count = 1;
  int port = bench::free_port();
  pid_t daemon =
      bench::spawn({bench::own_dir() + "/tavro", "-port", std::to_string(port), "-api", "enabled"});
  if (!bench::wait_listening(port)) {
    std::fprintf(stderr, "tavro did not start\n");
    return 1;
  }
  // The first port of the first simulated adapter.
  std::string name = ask(port, "4.0.0");
  std::string handle = ask(port, "5.0.\"" + name + "\"");
  std::string all = ask(port, "9.0." + handle + ".0");
  if (handle.size() != 8 || all.rfind("Error", 0) == 0) {
    std::fprintf(stderr, "no simulated adapter: name=%s handle=%s statistics=%s\n", name.c_str(),
                 handle.c_str(), all.c_str());
    bench::stop(daemon);
    return 1;
  }
  const std::string every = "HBAAPI 9.0." + handle + ".0";
  const std::string one = "HBAAPI 9.2." + handle + ".0";
  std::printf("%d sequential connections each; adapter %s, handle %s\n", count, name.c_str(),
              handle.c_str());

  bench::run_load(port, "REV", count / 10 + 1);  // warm up
  bench::Rounds r =
      bench::run_rounds(port, {{"REV", "3.3 Build 43"}, {every, ""}, {one, ""}}, count);
  const bench::LoadResult& rev = r.totals[0];
  const bench::LoadResult& stats = r.totals[1];
  const bench::LoadResult& field = r.totals[2];
  bench::print_result("tavro REV", rev);
  bench::print_result("tavro HBAAPI port statistics", stats);
  bench::print_result("tavro HBAAPI TxFrames alone", field);
  std::printf(
      "rate ratio REV/HBAAPI statistics (median of 9 alternating rounds): %.2f; the bridge and "
      "library add %.1f us a request (p50 %.1f us, p99 %.1f us)\n",
      r.ratio(0, 1), stats.mean_us() - rev.mean_us(), stats.p50_us - rev.p50_us,
      stats.p99_us - rev.p99_us);
  bench::stop(daemon);
  return rev.failures + stats.failures + field.failures == 0 ? 0 : 1;
}
