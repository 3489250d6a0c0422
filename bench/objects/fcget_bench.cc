// Sequential FCGET requests for a port's speed, answered by the simulated
// driver through the daemon, beside REV requests that the daemon answers
// itself, in alternating rounds: the difference is the cost of the driver
// round trip.
//
//   bench_fcget [requests]      (default 20000 of each)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/load/load_client.h"
#include "tests/support/daemon_process.h"

namespace {

constexpr const char* kBranch = "FCGET .1.3.6.1.4.1.48217.3.";

std::string ask(int port, const std::string& object) {
  return tavro::testing::request(port, kBranch + object);
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (count < 1) count = 1;
  int port = bench::free_port();
  pid_t daemon = bench::spawn(
      {bench::own_dir() + "/tavro", "-port", std::to_string(port), "-fcget", "enabled"});
  if (!bench::wait_listening(port)) {
    std::fprintf(stderr, "tavro did not start\n");
    return 1;
  }
  // The first port of the first simulated adapter.
  std::string name = ask(port, "3.2.1.2.0");
  std::string wwn = ask(port, "3.4.1.2." + name + ".0");
  std::string speed_request = kBranch + std::string("3.5.1.3.") + wwn;
  std::string speed = tavro::testing::request(port, speed_request);
  if (wwn.size() != 16 || speed.empty() || speed.rfind("Error", 0) == 0) {
    std::fprintf(stderr, "no simulated port: name=%s wwn=%s speed=%s\n", name.c_str(), wwn.c_str(),
                 speed.c_str());
    bench::stop(daemon);
    return 1;
  }
  std::printf("%d sequential connections each; port %s answers speed %s\n", count, wwn.c_str(),
              speed.c_str());

  bench::run_load(port, "REV", count / 10 + 1);  // warm up
  bench::Rounds r =
      bench::run_rounds(port, {{"REV", "3.3 Build 43"}, {speed_request, speed}}, count);
  const bench::LoadResult& rev = r.totals[0];
  const bench::LoadResult& fcget = r.totals[1];
  bench::print_result("tavro REV", rev);
  bench::print_result("tavro FCGET port speed", fcget);
  std::printf(
      "rate ratio REV/FCGET (median of 9 alternating rounds): %.2f; the driver round trip adds "
      "%.1f us a request (p50 %.1f us, p99 %.1f us)\n",
      r.ratio(0, 1), fcget.mean_us() - rev.mean_us(), fcget.p50_us - rev.p50_us,
      fcget.p99_us - rev.p99_us);
  bench::stop(daemon);
  return rev.failures + fcget.failures == 0 ? 0 : 1;
}
