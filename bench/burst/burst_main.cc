// A burst of clients that all connect at once, beside idle ones holding
// waiting places: how long the slowest waits. A listen queue that overflows
// shows as replies a second or more late, when the clients' kernels retry
// the connection attempts it dropped.
//
//   bench_burst [clients] [idle]     defaults 200 and 100
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/load/load_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds from the start signal to the whole reply; -1 on failure.
double one_client(int port, const std::atomic<bool>& go) {
  while (!go) std::this_thread::yield();
  const auto start = Clock::now();
  int s = bench::connect_loopback(port);
  if (s < 0) return -1;
  ::send(s, "REV\n", 4, MSG_NOSIGNAL);
  ::shutdown(s, SHUT_WR);
  std::string reply;
  char buf[256];
  for (ssize_t n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;)
    reply.append(buf, static_cast<std::size_t>(n));
  ::close(s);
  if (reply != "3.3 Build 43") return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int clients = argc > 1 ? std::atoi(argv[1]) : 200;
  const int idle = argc > 2 ? std::atoi(argv[2]) : 100;
  const int port = bench::free_port();
  pid_t tavro = bench::spawn({bench::own_dir() + "/tavro", "-port", std::to_string(port)});
  if (!bench::wait_listening(port)) {
    std::fprintf(stderr, "tavro did not start\n");
    bench::stop(tavro);
    return 1;
  }
  std::vector<int> held;
  for (int i = 0; i < idle; ++i) held.push_back(bench::connect_loopback(port));
  std::atomic<bool> go{false};
  std::vector<double> ms(static_cast<std::size_t>(clients));
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i)
    threads.emplace_back([&, i] { ms[static_cast<std::size_t>(i)] = one_client(port, go); });
  go = true;
  for (auto& t : threads) t.join();
  for (int s : held) ::close(s);
  bench::stop(tavro);
  const int failed = static_cast<int>(std::erase(ms, -1.0));
  std::sort(ms.begin(), ms.end());
  if (ms.empty()) ms.push_back(-1);
  const int late =
      static_cast<int>(std::count_if(ms.begin(), ms.end(), [](double v) { return v >= 1000; }));
  std::printf(
      "%d clients at once beside %d idle: median %.1f ms, slowest %.1f ms, "
      "%d at 1 s or later (a retried connect), %d failed\n",
      clients, idle, ms[ms.size() / 2], ms.back(), late, failed);
  return failed == 0 && late == 0 ? 0 : 1;
}
