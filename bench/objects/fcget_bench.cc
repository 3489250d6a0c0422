// Measures sequential FCGET requests for a port's speed, answered by the
// simulated driver through the daemon, beside REV requests that the daemon
// answers itself. The difference is the cost of the driver round trip.
//
//   fcget_bench [requests]      (default 2000 of each)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using tavro::testing::request;

constexpr const char* kBranch = "FCGET .1.3.6.1.4.1.48217.3.";

struct Figures {
  double per_second;
  double mean_us;
  double p50_us;
  double p99_us;
};

Figures measure(int port, const std::string& text, int count, const std::string& expect_prefix) {
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(count));
  auto begin = Clock::now();
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    std::string reply = request(port, text);
    auto t1 = Clock::now();
    if (reply.compare(0, expect_prefix.size(), expect_prefix) != 0) {
      std::fprintf(stderr, "unexpected reply to %s: %s\n", text.c_str(), reply.c_str());
      std::exit(1);
    }
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  double sum = 0;
  for (double v : us) sum += v;
  std::sort(us.begin(), us.end());
  auto at = [&](double q) { return us[static_cast<std::size_t>(q * (us.size() - 1))]; };
  return {count / seconds, sum / count, at(0.50), at(0.99)};
}

std::string ask(int port, const std::string& object) {
  return request(port, kBranch + object);
}

void print(const char* name, const Figures& f) {
  std::printf("%-14s %10.0f req/s   mean %8.1f us   p50 %8.1f us   p99 %8.1f us\n", name,
              f.per_second, f.mean_us, f.p50_us, f.p99_us);
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (count < 1) count = 1;
  tavro::testing::DaemonOptions options;
  options.args = {"-fcget", "enabled"};
  tavro::testing::DaemonProcess daemon(options);
  int port = daemon.port();

  // Find a port WWN of the simulated model: first adapter, first port.
  std::string name = ask(port, "3.2.1.2.0");
  std::string wwn = ask(port, "3.4.1.2." + name + ".0");
  std::string speed = "3.5.1.3." + wwn;
  std::string first = ask(port, speed);
  if (name.rfind("Error", 0) == 0 || wwn.size() != 16 || first.rfind("Error", 0) == 0) {
    std::fprintf(stderr, "no simulated port: name=%s wwn=%s speed=%s\n", name.c_str(), wwn.c_str(),
                 first.c_str());
    return 1;
  }
  std::printf("%d sequential connections each; port %s, speed %s\n", count, wwn.c_str(),
              first.c_str());

  measure(port, "REV", count / 10 + 1, "");  // warm-up
  Figures rev = measure(port, "REV", count, "");
  Figures fcget = measure(port, kBranch + speed, count, first);
  print("REV", rev);
  print("FCGET speed", fcget);
  std::printf("ratio FCGET/REV (mean) %.2f; driver round trip adds %.1f us (p50 %.1f us)\n",
              fcget.mean_us / rev.mean_us, fcget.mean_us - rev.mean_us, fcget.p50_us - rev.p50_us);
  return 0;
}
