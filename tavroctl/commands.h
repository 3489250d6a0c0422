// The subcommands of tavroctl.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tavroctl/client.h"

namespace tavroctl {

struct Options {
  std::string host = "127.0.0.1", port = "8781";
  // For each request and for the whole command: well inside the minute of the
  // metrics timer, and more than the 6 s the driver may take for one request.
  std::chrono::milliseconds timeout{20000};
  bool json = false, follow = false, stats = false;  // stats: targets --stats
  std::string output;                                // metrics: the file to replace
  std::vector<std::string> words;                    // the subcommand and its arguments
  Client::Transport transport;                       // tests: a fake peer
};

// Runs the subcommand; results go to out, one line saying what went wrong
// and what to do to err. The exit status.
int run(const Options& options, std::ostream& out, std::ostream& err);

// The Prometheus text of the host's adapters; on a failure, tavro_up 0 alone.
std::string metrics_text(const Client& client, Reply& failure);

}  // namespace tavroctl
