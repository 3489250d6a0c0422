// Round trip of one request through the channel's rendezvous and the
// simulated driver, beside a bare hand-off to another thread and back
// measured in the same run. Prints percentiles in microseconds.
//
//   bench_channel [requests]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "base/diag.h"
#include "base/text.h"
#include "channel/catalogue.h"
#include "channel/channel.h"
#include "eventlog/event_log.h"
#include "eventlog/request_log.h"

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

struct Figures {
  double p50;
  double p99;
};

Figures percentiles(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<std::size_t>(q * (samples.size() - 1))]; };
  return {at(0.50), at(0.99)};
}

// A request handed to a waiting thread, which answers by waking the
// requester: the two thread switches every driver round trip needs at least.
std::vector<double> bare_hand_off(int rounds) {
  std::mutex m;
  std::condition_variable to_worker, to_requester;
  bool asked = false, answered = false, stop = false;
  std::thread worker([&] {
    std::unique_lock<std::mutex> hold(m);
    for (;;) {
      to_worker.wait(hold, [&] { return asked || stop; });
      if (stop) return;
      asked = false;
      answered = true;
      to_requester.notify_one();
    }
  });
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    std::unique_lock<std::mutex> hold(m);
    asked = true;
    to_worker.notify_one();
    to_requester.wait(hold, [&] { return answered; });
    answered = false;
    hold.unlock();
    samples.push_back(micros(Clock::now() - start));
  }
  {
    std::lock_guard<std::mutex> hold(m);
    stop = true;
  }
  to_worker.notify_one();
  worker.join();
  return samples;
}

std::vector<double> channel_round_trips(tavro::Channel& channel, int rounds, int* failures) {
  std::uint8_t port[8];
  tavro::hex_to_wwn("210000E08B010203", port);  // the default model's first port
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    char reply[64];
    auto start = Clock::now();
    tavro::Transaction t =
        channel.transact({tavro::kFcphDestination, tavro::FCPH_GET_PORT_SPEED, tavro::fcph::kSize},
                         reply, sizeof reply, [&](std::uint8_t* data) {
                           tavro::write_u32(data, tavro::fcph::kNumber, tavro::FCPH_GET_PORT_SPEED);
                           std::copy(port, port + 8, data + tavro::fcph::kArgs);
                           return true;
                         });
    samples.push_back(micros(Clock::now() - start));
    if (t != tavro::Transaction::kAnswered) ++*failures;
  }
  return samples;
}

void print(const char* name, const Figures& f) {
  std::printf("%-34s p50 %8.1f us   p99 %8.1f us   p99/p50 %5.2f\n", name, f.p50, f.p99,
              f.p99 / f.p50);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (rounds < 10) rounds = 10;

  std::int32_t debug = 0, mode = 0, flags = 0;
  tavro::Diag diag(debug);
  diag.set_stdout(false);
  tavro::EventLog events({"", mode, flags}, &diag);
  tavro::RequestLog requests({"", mode, flags}, &diag);
  tavro::Channel channel(diag, events, &requests);
  channel.qdn_open();
  if (!channel.channel_open()) {
    std::fprintf(stderr, "bench_channel: the driver channel did not open\n");
    return 1;
  }

  int failures = 0;
  bare_hand_off(rounds / 10);
  channel_round_trips(channel, rounds / 10, &failures);  // warm-up
  failures = 0;
  Figures bare = percentiles(bare_hand_off(rounds));
  Figures trip = percentiles(channel_round_trips(channel, rounds, &failures));

  std::printf("%d requests of FCPH_GET_PORT_SPEED, %d hand-offs\n", rounds, rounds);
  print("bare thread hand-off and back", bare);
  print("request through the channel", trip);
  std::printf("%-34s p50 %8.1f us   p99 %8.1f us\n", "added by channel and driver",
              trip.p50 - bare.p50, trip.p99 - bare.p99);
  if (failures != 0) {
    std::fprintf(stderr, "bench_channel: %d requests were not answered\n", failures);
    return 1;
  }
  return 0;
}
