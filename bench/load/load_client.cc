#include "bench/load/load_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

bool one_request(int port, const std::string& request, const std::string& expect) {
  int s = connect_loopback(port);
  if (s < 0) return false;
  ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
  ::shutdown(s, SHUT_WR);  // the request is whole: no wait for the daemon's quiet time
  std::string reply;
  char buf[65536];
  ssize_t n;
  while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<std::size_t>(n));
  ::close(s);
  return expect.empty() ? !reply.empty() : reply == expect;
}

double percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  std::size_t at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
  return sorted[at];
}

}  // namespace

int connect_loopback(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

LoadResult run_load(int port, const std::string& request, int count, const std::string& expect) {
  LoadResult r;
  std::vector<double> latencies;
  latencies.reserve(static_cast<std::size_t>(count));
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    if (!one_request(port, request, expect)) ++r.failures;
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.requests = count;
  std::sort(latencies.begin(), latencies.end());
  r.p50_us = percentile(latencies, 0.50);
  r.p99_us = percentile(latencies, 0.99);
  return r;
}

pid_t spawn(const std::vector<std::string>& argv) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void stop(pid_t pid) {
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

bool wait_listening(int port) {
  for (int i = 0; i < 500; ++i) {
    int s = connect_loopback(port);
    if (s >= 0) {
      struct linger l {
        1, 0
      };
      ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      ::close(s);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  return ntohs(addr.sin_port);
}

long resident_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(1 << 20, '\n');
  }
  return -1;
}

std::string own_dir() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<std::size_t>(n));
  return p.substr(0, p.rfind('/'));
}

void print_result(const char* name, const LoadResult& r) {
  std::printf("%-32s %8d req %8.0f req/s   p50 %7.1f us   p99 %7.1f us   failures %d\n", name,
              r.requests, r.rate(), r.p50_us, r.p99_us, r.failures);
}

Rounds run_rounds(int port, const std::vector<Probe>& probes, int count, int rounds) {
  Rounds out;
  out.totals.resize(probes.size());
  out.rates.resize(probes.size());
  for (int round = 0; round < rounds; ++round) {
    int share = count / rounds + (round < count % rounds ? 1 : 0);
    if (share == 0) continue;
    for (std::size_t k = 0; k < probes.size(); ++k) {
      LoadResult r = run_load(port, probes[k].request, share, probes[k].expect);
      LoadResult& t = out.totals[k];
      t.requests += r.requests;
      t.failures += r.failures;
      t.seconds += r.seconds;
      t.p50_us = std::max(t.p50_us, r.p50_us);
      t.p99_us = std::max(t.p99_us, r.p99_us);
      out.rates[k].push_back(r.rate());
    }
  }
  return out;
}

double Rounds::ratio(std::size_t a, std::size_t b) const {
  std::vector<double> ratios;
  for (std::size_t k = 0; k < rates[a].size() && k < rates[b].size(); ++k) {
    if (rates[b][k] > 0) ratios.push_back(rates[a][k] / rates[b][k]);
  }
  std::sort(ratios.begin(), ratios.end());
  return ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}

}  // namespace bench
