// Sequential request load against a TCP port: one request per connection,
// the way the daemon's clients talk to it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

// A connected socket to 127.0.0.1:port, or -1.
int connect_loopback(int port);

struct LoadResult {
  int requests = 0;
  int failures = 0;
  double seconds = 0;
  double p50_us = 0;
  double p99_us = 0;
  double rate() const { return seconds > 0 ? requests / seconds : 0; }
  // Mean time per request in microseconds.
  double mean_us() const { return rate() > 0 ? 1e6 / rate() : 0; }
};

// Sends `request` on `count` connections in a row; a reply that does not
// equal `expect` (when given) counts as a failure.
LoadResult run_load(int port, const std::string& request, int count,
                    const std::string& expect = "");

// Several requests to one port, sent in turn in rounds, so that a change in
// the machine's load falls on all of them.
struct Probe {
  std::string request;
  std::string expect;  // "" takes any reply
};
struct Rounds {
  std::vector<LoadResult> totals;  // per probe, over all rounds (latencies: the worst round)
  std::vector<std::vector<double>> rates;  // per probe, each round's rate
  // The median over the rounds of probe a's rate divided by probe b's.
  double ratio(std::size_t a, std::size_t b) const;
};
// count requests of each probe, in `rounds` rounds.
Rounds run_rounds(int port, const std::vector<Probe>& probes, int count, int rounds = 9);

// Starts a program in the background with its output discarded.
pid_t spawn(const std::vector<std::string>& argv);
void stop(pid_t pid);
// Waits until the port accepts connections.
bool wait_listening(int port);
int free_port();
// Resident set size of a process in kilobytes.
long resident_kb(pid_t pid);
// The directory of the running program (where the other programs are built).
std::string own_dir();

void print_result(const char* name, const LoadResult& r);

}  // namespace bench
