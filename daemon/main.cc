// Program entry of the request daemon.
#include <cstdlib>
#include <system_error>
#include <thread>

#include "daemon/commands.h"
#include "daemon/daemon.h"
#include "platform/debug_output.h"
#include "platform/stop_signals.h"

namespace {

// The daemon outlives main's frame: the exit handler and the stop thread use
// it until the process ends.
tavro::Daemon* daemon_state = nullptr;

[[noreturn]] void server_thread_failed(tavro::Daemon& d) {
  static constexpr char kLine[] = "TAVRO: Received Exception in main thread.\n";
  platform::debug_output(kLine);
  d.requests.write_line(kLine);
  d.events.open();
  d.events.write(tavro::kSourceLxs, tavro::kLevelError, "Program Exception");
  tavro::close_driver_resources(d);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  platform::fill_standard_descriptors();
  platform::ignore_broken_pipes();
  platform::block_stop_signals();
  platform::debug_output("TAVRO: Running WinMain().\n");
  daemon_state = new tavro::Daemon;
  tavro::Daemon& d = *daemon_state;
  std::atexit([] { tavro::exit_cleanup(*daemon_state); });

  int words = argc < tavro::kMaxWords ? argc : tavro::kMaxWords;
  try {
    std::thread([&d, words, argv] {
      tavro::copt(d, words, argv);
      // Ending without a stop signal (no port, accept failed) is a failure the
      // service manager should see.
      if (!d.server.shutdown_requested) d.main_loop.post_quit(1);
    }).detach();
  } catch (const std::system_error&) {
    server_thread_failed(d);
  }

  // The event log follows the settings the server thread has read; a stop in
  // the meantime has closed it for good.
  d.server.gate.wait_for_settings();
  if (!d.server.shutdown_requested) d.events.open();
  d.server.gate.log_opened();
  tavro::start_power_events(d.power, d.sleep_watch);
  std::exit(d.main_loop.run());
}
