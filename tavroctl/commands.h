// The subcommands of tavroctl.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tavroctl/client.h"

namespace tavroctl {

struct Options {
  std::string host = "127.0.0.1", port = "8781";
  std::chrono::milliseconds timeout{15000};
  bool json = false, follow = false;
  std::string output;              // metrics: the file to replace
  std::vector<std::string> words;  // the subcommand and its arguments
};

// Runs the subcommand; results go to out, one line saying what went wrong
// and what to do to err. The exit status.
int run(const Options& options, std::ostream& out, std::ostream& err);

// The Prometheus text of the host's adapters.
std::string metrics_text(const Client& client, Outcome& outcome, Reply& failure);

}  // namespace tavroctl
